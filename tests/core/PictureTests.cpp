// Pictures from bytes anyone could have made: what a header claims is checked before memory is
// set aside for it, data cut short is refused instead of shown half grey, progressive files are
// bounded in memory and in scans, and real pictures come out upright and fitted to their box.
// Whatever could eat memory or time runs in a child process with limits, so that a regression
// fails instead of taking the machine down.

#include <PizzaCore/Documents/LogoImage.hpp>
#include <PizzaCore/Documents/Picture.hpp>

#include <gtest/gtest.h>
#include <support/TestImages.hpp>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace pizzacore;
using namespace pizzacore::documents;
using pizzacore::testing::claimingSize;
using pizzacore::testing::jpegImage;
using pizzacore::testing::JpegOptions;
using pizzacore::testing::pngImage;

std::uint32_t halves(int x, int width) {
    return x < width / 2 ? 0x000000u : 0xFFFFFFu;
}

// The most address space this process has had, in kB.
long peakKilobytes() {
    long peak = 0;
    if (FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, status))
            if (std::sscanf(line, "VmPeak: %ld kB", &peak) == 1) break;
        std::fclose(status);
    }
    return peak;
}

// Runs `check` in a forked child that is killed after `seconds` and whose data may not grow by
// more than 512 MB, a safety net far above what any check allows. Gives the child's exit code:
// `check`'s result, 100 when it threw, -1 when it was killed.
int inLimitedChild(unsigned seconds, const std::function<int()>& check) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(seconds);
        rlimit data{};
        if (::getrlimit(RLIMIT_DATA, &data) == 0) {
            long size = 0;
            if (FILE* status = std::fopen("/proc/self/status", "r")) {
                char line[256];
                while (std::fgets(line, sizeof line, status))
                    if (std::sscanf(line, "VmData: %ld kB", &size) == 1) break;
                std::fclose(status);
            }
            data.rlim_cur = static_cast<rlim_t>(size) * 1024 + (rlim_t{512} << 20);
            ::setrlimit(RLIMIT_DATA, &data);
        }
        int code = 100;
        try {
            code = check();
        } catch (...) {
        }
        ::_exit(code);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// In a limited child: 0 when decoding `bytes` for a printed logo ends in `expected` having set
// aside at most `allowanceMB` of address space; 1 for another outcome, 2 for more memory.
int decodesWithin(const Bytes& bytes, PictureStatus expected, long allowanceMB) {
    return inLimitedChild(20, [&] {
        const long before = peakKilobytes();
        const Picture picture = decodePicture(bytes, 280, 180);
        const long grown = (peakKilobytes() - before) / 1024;
        if (picture.status != expected) return 1;
        if (grown > allowanceMB) {
            std::fprintf(stderr, "decoding set aside %ld MB\n", grown);
            return 2;
        }
        if ((expected == PictureStatus::decoded) != (LogoImage::decode(bytes) != nullptr)) return 3;
        return 0;
    });
}

const char* name(PictureStatus status) {
    switch (status) {
    case PictureStatus::decoded:
        return "decoded";
    case PictureStatus::unreadable:
        return "unreadable";
    case PictureStatus::refused:
        return "refused";
    }
    return "?";
}

Bytes cut(Bytes bytes, std::size_t size) {
    bytes.resize(size);
    return bytes;
}

Bytes joined(Bytes bytes, const Bytes& more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
    return bytes;
}

TEST(Pictures, WhatAHeaderClaimsIsRefusedBeforeMemoryIsSetAsideForIt) {
    const auto black = [](int, int) { return 0u; };
    const Bytes progressive = jpegImage(8, 8, black, JpegOptions{.progressive = true});
    const Bytes fullColour = jpegImage(16, 16, black, JpegOptions{.progressive = true, .fullColour = true});
    struct Case {
        const char* what;
        Bytes bytes;
    };
    const std::vector<Case> cases = {
        {"progressive JPEG claiming 40000 × 40000", claimingSize(progressive, 40000, 40000)},
        {"baseline JPEG claiming 8000 × 8000", claimingSize(jpegImage(8, 8, black), 8000, 8000)},
        // 25 megapixels, within the pixel limit, but 150 MB of coefficients held at once.
        {"progressive full-colour JPEG claiming 5000 × 5000", claimingSize(fullColour, 5000, 5000)},
        {"PNG claiming 100000 × 100000", claimingSize(pngImage(8, 8, black), 100000, 100000)},
    };
    for (const Case& c : cases) {
        EXPECT_LT(c.bytes.size(), 1000u) << c.what;
        EXPECT_EQ(decodesWithin(c.bytes, PictureStatus::refused, 24), 0) << c.what;
    }
}

TEST(Pictures, RealPicturesAreDecodedWithinTheMemoryTheyNeed) {
    // A large PNG is decoded once at full size (cairo cannot reduce while decoding) and never
    // copied at that size.
    const Bytes png = pngImage(3000, 3000, [](int x, int) { return halves(x, 3000); });
    EXPECT_EQ(decodesWithin(png, PictureStatus::decoded, 36 + 14), 0);
    // A progressive photograph holds its coefficients (3 × 2 bytes a pixel at full colour).
    const auto shades = [](int x, int y) { return std::uint32_t(x * 7 + y * 13); };
    const Bytes photo = jpegImage(2000, 1500, shades, JpegOptions{.progressive = true, .fullColour = true});
    EXPECT_EQ(decodesWithin(photo, PictureStatus::decoded, 18 + 14), 0);
}

TEST(Pictures, DataCutShortIsRefusedAndAFileMissingOnlyItsEndMarkerIsWhole) {
    const auto colours = [](int x, int y) { return std::uint32_t(x * 0x010203 + y * 0x030201); };
    const Bytes baseline = jpegImage(300, 200, colours, 90);
    const Bytes progressive = jpegImage(300, 200, colours, JpegOptions{.progressive = true});
    const Bytes png = pngImage(300, 200, colours);
    const Bytes end = {0xFF, 0xD9};
    struct Case {
        const char* what;
        Bytes bytes;
        PictureStatus expected;
    };
    const std::vector<Case> cases = {
        {"baseline JPEG cut in half", cut(baseline, baseline.size() / 2), PictureStatus::refused},
        {"baseline JPEG cut in half, end marker added", joined(cut(baseline, baseline.size() / 2), end),
         PictureStatus::refused},
        {"progressive JPEG cut in half", cut(progressive, progressive.size() / 2), PictureStatus::refused},
        {"progressive JPEG cut, end marker added", joined(cut(progressive, progressive.size() * 2 / 3), end),
         PictureStatus::refused},
        {"PNG cut in half", cut(png, png.size() / 2), PictureStatus::refused},
        {"JPEG header only", cut(baseline, 20), PictureStatus::unreadable},
        {"baseline JPEG without its end marker", cut(baseline, baseline.size() - 2), PictureStatus::decoded},
        {"baseline JPEG with bytes after its end", joined(baseline, Bytes(100, 0x55)),
         PictureStatus::decoded},
        {"progressive JPEG", progressive, PictureStatus::decoded},
        {"text", Bytes{'h', 'o', 'l', 'a'}, PictureStatus::unreadable},
    };
    for (const Case& c : cases) {
        const PictureStatus status = decodePicture(c.bytes, 280, 180).status;
        EXPECT_EQ(status, c.expected) << c.what << ": " << name(status);
        EXPECT_EQ(LogoImage::decode(c.bytes) != nullptr, c.expected == PictureStatus::decoded) << c.what;
    }
}

TEST(Pictures, ProgressiveFilesWithThousandsOfScansAreRefused) {
    const auto grey = [](int x, int y) { return std::uint32_t((x * 5 + y * 3) & 0xFF); };
    // One scan for each bit of each coefficient: 704 passes over the picture.
    const Bytes everyBit = jpegImage(64, 64, grey, JpegOptions{.everyBitInItsOwnScan = true, .grey = true});
    const auto refused = [&] {
        return decodePicture(everyBit, 280, 180).status == PictureStatus::refused ? 0 : 1;
    };
    EXPECT_EQ(inLimitedChild(20, refused), 0);
    const Bytes usual = jpegImage(64, 64, grey, JpegOptions{.progressive = true, .grey = true});
    EXPECT_EQ(decodePicture(usual, 280, 180).status, PictureStatus::decoded);
}

TEST(Pictures, PicturesComeOutUprightAndFittedToTheirBox) {
    // Stored 200 × 100 with the left half black; orientation 6 turns it a quarter clockwise.
    const auto leftHalfBlack = [](int x, int) { return halves(x, 200); };
    for (const Bytes& bytes :
         {jpegImage(200, 100, leftHalfBlack, 95, 6), pngImage(200, 100, leftHalfBlack, 6)}) {
        Picture picture = decodePicture(bytes, 50, 50);
        ASSERT_EQ(picture.status, PictureStatus::decoded);
        EXPECT_EQ(picture.width, 100);
        EXPECT_EQ(picture.height, 200);
        ASSERT_EQ(picture.pixels.width, 25);
        ASSERT_EQ(picture.pixels.height, 50);
        EXPECT_LT(picture.pixels.row(5)[12] & 0xFF, 60u) << "the top half is black";
        EXPECT_GT(picture.pixels.row(45)[12] & 0xFF, 200u) << "the bottom half is white";
        EXPECT_FALSE(picture.untouched);
    }
    // A picture that fits is not enlarged.
    const Picture small = decodePicture(pngImage(30, 20, [](int, int) { return 0u; }), 512, 512);
    EXPECT_EQ(small.pixels.width, 30);
    EXPECT_EQ(small.pixels.height, 20);
    EXPECT_TRUE(small.untouched);
}

TEST(Pictures, FittedSizesKeepTheProportionsExactly) {
    EXPECT_EQ(fittedSize(4000, 3000, 512, 512), std::make_pair(512, 384));
    EXPECT_EQ(fittedSize(3000, 4000, 512, 512), std::make_pair(384, 512));
    EXPECT_EQ(fittedSize(200, 400, 190, 65), std::make_pair(33, 65));
    EXPECT_EQ(fittedSize(1, 100000, 512, 512), std::make_pair(1, 512));
    EXPECT_EQ(fittedSize(120, 40, 190, 65), std::make_pair(120, 40));
    EXPECT_EQ(fittedSize(0, 0, 10, 10), std::make_pair(1, 1));
}

} // namespace
