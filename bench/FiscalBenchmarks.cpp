// The fiscal record of a 20-line invoice built, signed (RSA 2048, XAdES) and verified, next to
// its parts; and the certificate reader on a real certificate. The key and certificate come from
// the openssl command line, made once in a temporary directory.

#include <PizzaCore/PizzaCore.hpp>
#include <benchmark/benchmark.h>
#include <support/TestFiles.hpp>

#include <array>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

using namespace pizzacore;

struct Signer {
    testing::TemporaryDirectory directory{"velmora-fiscal-bench"};
    std::unique_ptr<FiscalSignature::PrivateKey> key;
    Bytes certificate;

    Signer() {
        const std::string folder = directory.path().string();
        const std::string command =
            "cd '" + folder +
            "' && openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -subj "
            "'/C=ES/O=Pizzas Luigi, S.L./CN=Firma de facturas' -set_serial 0x0123456789ABCDEF01 "
            "-days 30 -outform DER -out cert.der >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) throw std::runtime_error("openssl");
        key = std::make_unique<FiscalSignature::PrivateKey>(
            FiscalSignature::PrivateKey::fromPEM(testing::readFile(directory.path() / "key.pem")));
        const std::string der = testing::readFile(directory.path() / "cert.der");
        certificate.assign(der.begin(), der.end());
    }
};

Signer& signer() {
    static Signer shared;
    return shared;
}

FiscalSettings settings() {
    FiscalSettings settings;
    settings.issuerName = "Pizzería Ñandú, S.L.";
    settings.issuerTaxID = "B12345678";
    settings.issuerAddress = "Calle Mayor 1, Madrid";
    settings.producerName = "Velmora Software S.L.";
    settings.producerTaxID = "A87654321";
    return settings;
}

InvoiceProposal twentyLines() {
    InvoiceProposal proposal;
    proposal.recipientName = "Eventos García S.L.";
    proposal.recipientTaxID = "B87654321";
    proposal.recipientAddress = "Avenida del Puerto 3, Valencia";
    const std::int64_t rates[] = {400, 1000, 2100};
    for (int i = 0; i < 20; ++i)
        proposal.lines.push_back(FiscalLine{Uuid::random(), "Pizza familiar número " + std::to_string(i),
                                            1 + i % 3, 1250 + 10 * i, rates[i % 3]});
    return proposal;
}

constexpr const char* timestamp = "2025-02-23T13:45:10+01:00";

// Signing refuses a certificate outside its validity: the signing time is an hour from now, inside
// the 30 days of the certificate made at start.
std::string signingTime() {
    const std::time_t now =
        std::chrono::system_clock::to_time_t(std::chrono::system_clock::now() + std::chrono::hours(1));
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::array<char, 32> text{};
    std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text.data();
}

void BM_AltaSignVerify20Lines(benchmark::State& state) {
    Signer& s = signer();
    const FiscalSettings fiscal = settings();
    const InvoiceProposal proposal = twentyLines();
    const std::string signedAt = signingTime();
    for (auto _ : state) {
        const auto record =
            FiscalRecords::alta(proposal, fiscal, "F-2025/1", "23-02-2025", timestamp, {}, {});
        // sign() ends by verifying its own output; verifying again is what a reader of the archive does.
        const Bytes signedRecord = FiscalSignature::sign(record.xml, *s.key, s.certificate, signedAt);
        FiscalSignature::verify(signedRecord);
        benchmark::DoNotOptimize(signedRecord.data());
    }
}
BENCHMARK(BM_AltaSignVerify20Lines)->Unit(benchmark::kMillisecond);

void BM_Alta20Lines(benchmark::State& state) {
    const FiscalSettings fiscal = settings();
    const InvoiceProposal proposal = twentyLines();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            FiscalRecords::alta(proposal, fiscal, "F-2025/1", "23-02-2025", timestamp, {}, {}));
}
BENCHMARK(BM_Alta20Lines)->Unit(benchmark::kMicrosecond);

void BM_Verify20Lines(benchmark::State& state) {
    Signer& s = signer();
    const auto record =
        FiscalRecords::alta(twentyLines(), settings(), "F-2025/1", "23-02-2025", timestamp, {}, {});
    const Bytes signedRecord = FiscalSignature::sign(record.xml, *s.key, s.certificate, signingTime());
    for (auto _ : state)
        FiscalSignature::verify(signedRecord);
}
BENCHMARK(BM_Verify20Lines)->Unit(benchmark::kMillisecond);

void BM_CertificateDetails(benchmark::State& state) {
    Signer& s = signer();
    for (auto _ : state)
        benchmark::DoNotOptimize(CertificateDER::details(s.certificate));
}
BENCHMARK(BM_CertificateDetails)->Unit(benchmark::kMicrosecond);

} // namespace
