// velmora-admin run as a real program on real data folders: a valid one, damaged ones, one held
// by a running Velmora, a backup file. Outputs are read back (CSV by an RFC 4180 reader, JSON by
// simdjson) and compared with what the core says about the same document.

#include <PizzaCore/Persistence/Envelope.hpp>
#include <PizzaCore/PizzaCore.hpp>
#include <gtest/gtest.h>
#include <poppler-document.h>
#include <poppler-page.h>
#include <simdjson.h>
#include <support/ScopedVariable.hpp>
#include <support/SyntheticDocument.hpp>
#include <support/TestFiles.hpp>

#include <algorithm>
#include <array>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace pizzacore;
using pizzacore::testing::DocumentShape;
using pizzacore::testing::makeDocument;
using pizzacore::testing::readFile;
using pizzacore::testing::ScopedVariable;
using pizzacore::testing::TemporaryDirectory;
using pizzacore::testing::writeFile;

// Nothing is ever replaced by these commands, so the refusal does not speak of a restore.
const std::string integrityMessage = "El archivo no es un archivo de datos de Velmora válido o su integridad "
                                     "no coincide (está dañado, incompleto o modificado).";
const std::string inconsistentMessage =
    "Datos inconsistentes. Conserva el archivo y recupera una copia de seguridad válida.";

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs velmora-admin with the arguments; standard output goes to `stdoutPath` when given.
Outcome admin(const std::vector<std::string>& arguments, const char* stdoutPath = nullptr) {
    TemporaryDirectory streams("velmora-admin-run");
    const fs::path out = stdoutPath ? fs::path(stdoutPath) : streams.path() / "out";
    const fs::path err = streams.path() / "err";
    std::vector<const char*> argv{VELMORA_ADMIN};
    for (const std::string& argument : arguments)
        argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t pid = 0;
    Outcome run;
    if (::posix_spawn(&pid, VELMORA_ADMIN, &actions, nullptr, const_cast<char**>(argv.data()), environ) ==
        0) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    if (!stdoutPath) run.out = readFile(out);
    run.err = readFile(err);
    return run;
}

// Every entry of the folder with its bytes, inode, mode and modification and change times: a read
// that wrote, replaced, created or re-permissioned anything shows up as a difference.
using Entry = std::tuple<std::string, ino_t, mode_t, long long, long long>;
std::map<std::string, Entry> stamp(const fs::path& directory) {
    std::map<std::string, Entry> entries;
    for (const auto& entry : fs::directory_iterator(directory)) {
        struct stat status {};
        ::lstat(entry.path().c_str(), &status);
        entries[entry.path().filename().string()] = {
            S_ISREG(status.st_mode) ? readFile(entry.path()) : std::string(), status.st_ino, status.st_mode,
            status.st_mtim.tv_sec * 1'000'000'000LL + status.st_mtim.tv_nsec,
            status.st_ctim.tv_sec * 1'000'000'000LL + status.st_ctim.tv_nsec};
    }
    return entries;
}

// RFC 4180: records end in CRLF, a quoted field may hold commas, CR, LF and doubled quotes.
// Anything else (a bare LF, text after a closing quote, an unterminated quote) fails the test.
std::vector<std::vector<std::string>> readCsv(const std::string& text) {
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> record;
    std::string field;
    std::size_t i = 0;
    bool fieldStarted = false;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '"' && !fieldStarted) {
            ++i;
            for (;;) {
                if (i >= text.size()) {
                    ADD_FAILURE() << "unterminated quoted field";
                    return records;
                }
                if (text[i] == '"') {
                    if (i + 1 < text.size() && text[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += text[i++];
            }
            fieldStarted = true;
            if (i < text.size() && text[i] != ',' && text[i] != '\r') {
                ADD_FAILURE() << "text after a closing quote at byte " << i;
                return records;
            }
        } else if (c == ',') {
            record.push_back(std::move(field));
            field.clear();
            fieldStarted = false;
            ++i;
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            record.push_back(std::move(field));
            field.clear();
            fieldStarted = false;
            records.push_back(std::move(record));
            record.clear();
            i += 2;
        } else if (c == '"' || c == '\r' || c == '\n') {
            ADD_FAILURE() << "bare quote, CR or LF in an unquoted field at byte " << i;
            return records;
        } else {
            field += c;
            fieldStarted = true;
            ++i;
        }
    }
    if (fieldStarted || !record.empty()) ADD_FAILURE() << "the last record does not end in CRLF";
    return records;
}

std::string decimal(Cents cents) {
    return FiscalMoney::decimal(cents);
}

// A spreadsheet would run a text beginning with these as a formula.
std::string asSpreadsheetText(const std::string& text) {
    return !text.empty() && std::string("=+-@\t\r").find(text.front()) != std::string::npos ? "'" + text
                                                                                            : text;
}

// A small restaurant's data with awkward texts (quotes, commas, line breaks, emoji, control
// characters); its last business day has two shifts, the first closed by hand.
class AdminData : public ::testing::Test {
protected:
    void SetUp() override {
        DocumentShape shape = DocumentShape::small();
        shape.awkwardText = true;
        db_ = makeDocument(shape, 18);
        const Session last = db_.sessions.back();
        db_.closeManually(last.id, Instant{last.opened.seconds + 3600});
        Repository(folder(), true).save(db_);
        ASSERT_TRUE(fs::exists(folder() / "Velmora.json"));
    }

    fs::path folder() const { return temporary_.path() / "Velmora"; }
    const Database& db() const { return db_; }
    const std::string& lastDay() const { return db_.sessions.back().businessDay; }

    std::vector<const Session*> sessionsOf(const std::string& day) const {
        std::vector<const Session*> found;
        for (const Session& session : db_.sessions)
            if (session.businessDay == day) found.push_back(&session);
        return found;
    }

private:
    TemporaryDirectory temporary_{"velmora-admin"};
    Database db_;
};

TEST_F(AdminData, VerifyCountsWithoutTouchingTheFolderAlsoWhileVelmoraHoldsIt) {
    const auto before = stamp(folder());
    const Outcome run = admin({"verificar", folder().string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const auto [first, last] =
        std::minmax_element(db().sessions.begin(), db().sessions.end(),
                            [](const Session& a, const Session& b) { return a.businessDay < b.businessDay; });
    for (const std::string& line :
         {"Pedidos: " + std::to_string(db().orders.size()),
          "Clientes: " + std::to_string(db().customers.size()),
          "Tramos de caja: " + std::to_string(db().sessions.size()), "Primera jornada: " + first->businessDay,
          "Última jornada: " + last->businessDay,
          "Tamaño: " + std::to_string(fs::file_size(folder() / "Velmora.json")) + " bytes",
          std::string("Lectura sin bloqueo"), std::string("Resultado: correcto")})
        EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;
    EXPECT_EQ(stamp(folder()), before);

    // Velmora running on the folder: a second process holds the lock all along.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ready[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, ready[0]);
    pid_t holder = 0;
    const std::string directory = folder().string();
    const char* argv[] = {VELMORA_LOCK_PROBE, "hold", directory.c_str(), nullptr};
    ASSERT_EQ(
        ::posix_spawn(&holder, VELMORA_LOCK_PROBE, &actions, nullptr, const_cast<char**>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ready[1]);
    char line[6] = {};
    const ssize_t got = ::read(ready[0], line, sizeof line);
    ::close(ready[0]);
    ASSERT_EQ(std::string(line, got > 0 ? std::size_t(got) : 0), "ready\n");

    const auto held = stamp(folder());
    const Outcome whileHeld = admin({"verificar", folder().string()});
    const Outcome reportWhileHeld = admin({"informe", lastDay(), "--datos", folder().string()});
    ::kill(holder, SIGKILL);
    int status = 0;
    ::waitpid(holder, &status, 0);
    EXPECT_EQ(whileHeld.status, 0) << whileHeld.err;
    EXPECT_EQ(whileHeld.out, run.out);
    EXPECT_EQ(reportWhileHeld.status, 0) << reportWhileHeld.err;
    EXPECT_EQ(stamp(folder()), held);
}

// Every entry of the folder as stamp gives it, without the journal's shared-memory index, which
// SQLite's readers update while the writer has the journal open: it is rebuilt from the journal's
// log and holds no data. A reader running as root also gives the log its owner again, which
// changes nothing but the log's change time.
std::map<std::string, Entry> stampOfData(const fs::path& directory) {
    std::map<std::string, Entry> entries = stamp(directory);
    entries.erase("Velmora.journal-shm");
    if (const auto log = entries.find("Velmora.journal-wal"); log != entries.end())
        std::get<4>(log->second) = 0;
    return entries;
}

// The names of the entries that differ between two stamps of a folder.
std::set<std::string> changedEntries(const std::map<std::string, Entry>& before,
                                     const std::map<std::string, Entry>& after) {
    std::set<std::string> names;
    for (const auto& [name, entry] : before)
        if (!after.contains(name) || after.at(name) != entry) names.insert(name);
    for (const auto& [name, entry] : after)
        if (!before.contains(name)) names.insert(name);
    return names;
}

TEST_F(AdminData, EveryCommandSeesTheChangesInTheJournalAndVerifyCountsThem) {
    // Velmora running: the journal open for writing, with a confirmation and its payment
    // committed after the stored document.
    Repository velmora(folder(), true);
    Database before = velmora.load();
    Database after = before;
    Draft draft;
    for (const Product& product : after.products)
        if (product.active) {
            draft.lines.push_back(Line::make(product));
            break;
        }
    const Instant now{after.sessions.back().opened.seconds + 7200};
    const Order order = after.confirm(draft, now);
    velmora.commit("transaction", diff(before, after), after);
    before = after;
    after.pay(order.id, PaymentMethod::card, std::nullopt, now);
    velmora.commit("transaction", diff(before, after), after);

    const auto files = stampOfData(folder());
    const Outcome verified = admin({"verificar", folder().string()});
    ASSERT_EQ(verified.status, 0) << verified.err;
    EXPECT_NE(verified.out.find("Pedidos: " + std::to_string(after.orders.size()) + "\n"), std::string::npos)
        << verified.out;
    EXPECT_NE(verified.out.find("Cambios pendientes en el diario: 2\n"), std::string::npos) << verified.out;
    const Outcome listed = admin(
        {"pedidos", "--desde", "2000-01-01", "--hasta", "2100-01-01", "--csv", "--datos", folder().string()});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(readCsv(listed.out).size(), after.orders.size() + 1);
    const Outcome ticket =
        admin({"ticket", std::to_string(order.number), "--salida", "-", "--datos", folder().string()});
    EXPECT_EQ(ticket.status, 0) << ticket.err;
    EXPECT_EQ(changedEntries(files, stampOfData(folder())), std::set<std::string>());

    // Folded: nothing pending, the same counts.
    velmora.fold(after, velmora.lastSequence());
    const Outcome folded = admin({"verificar", folder().string()});
    EXPECT_NE(folded.out.find("Cambios pendientes en el diario: 0\n"), std::string::npos) << folded.out;
    EXPECT_NE(folded.out.find("Pedidos: " + std::to_string(after.orders.size()) + "\n"), std::string::npos);
}

TEST_F(AdminData, WithVelmoraClosedTheJournalIsReadWithoutCreatingAnyFile) {
    {
        Repository velmora(folder(), true);
        Database before = velmora.load();
        Database after = before;
        after.draft.notes = "Llamar al llegar";
        velmora.commit("draft", diff(before, after), after);
    }
    const auto files = stamp(folder());
    ASSERT_TRUE(files.contains("Velmora.journal"));
    const Outcome verified = admin({"verificar", folder().string()});
    ASSERT_EQ(verified.status, 0) << verified.err;
    EXPECT_NE(verified.out.find("Cambios pendientes en el diario: 1\n"), std::string::npos) << verified.out;
    EXPECT_EQ(changedEntries(files, stamp(folder())), std::set<std::string>());
    // A single file has no journal.
    const Outcome ofPrevious = admin({"verificar", (folder() / "Velmora.json").string()});
    EXPECT_EQ(ofPrevious.out.find("Cambios pendientes"), std::string::npos) << ofPrevious.out;
}

TEST_F(AdminData, ADamagedJournalIsRefusedWithItsOwnWordsAndLeftAsItIs) {
    writeFile(folder() / "Velmora.journal", "esto no es un diario");
    const auto files = stamp(folder());
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"verificar", folder().string()},
          std::vector<std::string>{"informe", lastDay(), "--datos", folder().string()}}) {
        const Outcome run = admin(command);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("El diario de cambios «" + (folder() / "Velmora.journal").string() +
                               "» está dañado. No se ha modificado nada."),
                  std::string::npos)
            << run.err;
    }
    EXPECT_TRUE(admin({"verificar", folder().string()}).out.ends_with("Resultado: no válido\n"));
    EXPECT_EQ(changedEntries(files, stamp(folder())), std::set<std::string>());
}

TEST_F(AdminData, VerifyReadsBackupsAndTheDefaultFolder) {
    const fs::path backup = folder().parent_path() / "Velmora-2026-03-09.velmorabackup";
    Repository(folder(), false).exportTo(db(), backup);
    const Outcome ofBackup = admin({"verificar", backup.string()});
    EXPECT_EQ(ofBackup.status, 0) << ofBackup.err;
    EXPECT_NE(ofBackup.out.find("(copia)"), std::string::npos) << ofBackup.out;

    ScopedVariable dataDir("VELMORA_DATA_DIR", folder().string());
    const Outcome ofDefault = admin({"verificar"});
    EXPECT_EQ(ofDefault.status, 0) << ofDefault.err;
    EXPECT_NE(ofDefault.out.find((folder() / "Velmora.json").string() + " (carpeta de datos)"),
              std::string::npos)
        << ofDefault.out;
}

// Each damaged or missing data is refused with exit status 1 and the core's exact words, and the
// folder is left exactly as it was (no lock file, no folder created).
TEST(AdminRefusals, DamagedAndMissingDataAreRefusedWordForWord) {
    TemporaryDirectory temporary("velmora-admin");
    Database valid = makeDocument(DocumentShape::tiny(), 4);
    const std::string envelope = Repository::encode(valid);
    std::string flipped = envelope;
    flipped[flipped.find("\"payload\":\"") + 40] ^= 0x01;
    std::string upperDigest = envelope;
    const std::size_t digest = upperDigest.find("\"sha256\":\"") + 10;
    std::transform(
        upperDigest.begin() + std::ptrdiff_t(digest), upperDigest.begin() + std::ptrdiff_t(digest + 64),
        upperDigest.begin() + std::ptrdiff_t(digest), [](char c) { return char(std::toupper(c)); });
    Database future = valid;
    future.schemaVersion = 2;
    Database twoOpen = valid;
    Session another;
    another.businessDay = "2030-01-01";
    twoOpen.sessions.push_back(another);

    struct Case {
        std::string name;
        std::optional<std::string> file;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"flipped-payload", flipped, integrityMessage},
        {"upper-case-digest", upperDigest, integrityMessage},
        {"schema-2", Envelope::wrap(toJSON(future)),
         "Formato de datos no compatible (2). Actualiza Velmora; los datos originales se conservan."},
        {"two-open-sessions", Envelope::wrap(toJSON(twoOpen)), inconsistentMessage},
        {"not-json", std::string("no soy un sobre"), "No se pudo leer el documento"},
        {"empty-folder", std::nullopt, "no tiene datos guardados (falta Velmora.json)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path directory = temporary.path() / c.name;
        fs::create_directory(directory);
        if (c.file) writeFile(directory / "Velmora.json", *c.file);
        const auto before = stamp(directory);
        for (const std::vector<std::string>& arguments :
             {std::vector<std::string>{"verificar", directory.string()},
              std::vector<std::string>{"informe", "--datos", directory.string()},
              std::vector<std::string>{"pedidos", "--csv", "--datos", directory.string()}}) {
            const Outcome run = admin(arguments);
            EXPECT_EQ(run.status, 1) << arguments.front();
            EXPECT_NE(run.err.find(c.message), std::string::npos) << arguments.front() << ": " << run.err;
            EXPECT_EQ(run.err.find("No se han sustituido"), std::string::npos) << run.err;
            // A check always ends with its verdict.
            if (arguments.front() == "verificar") {
                EXPECT_TRUE(run.out.ends_with("Resultado: no válido\n")) << run.out;
            }
        }
        EXPECT_EQ(stamp(directory), before);
        if (c.file) {
            // The file alone, as a backup, gives the same refusal: the whole line, nothing else.
            const Outcome asBackup = admin({"verificar", (directory / "Velmora.json").string()});
            EXPECT_EQ(asBackup.status, 1);
            if (c.message.back() == '.') {
                EXPECT_EQ(asBackup.err, c.message + "\n");
            }
        }
    }

    const fs::path missing = temporary.path() / "no-such" / "Velmora";
    const Outcome run = admin({"verificar", missing.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "No existe " + missing.string() + ".\n");
    EXPECT_FALSE(fs::exists(missing.parent_path())) << "a mistyped path is never created";

    // A named pipe in the data file's place is refused at once instead of waited on.
    const fs::path piped = temporary.path() / "piped";
    fs::create_directory(piped);
    ASSERT_EQ(::mkfifo((piped / "Velmora.json").c_str(), 0600), 0);
    const Outcome pipe = admin({"verificar", piped.string()});
    EXPECT_EQ(pipe.status, 1);
    EXPECT_NE(pipe.err.find("no es un archivo normal"), std::string::npos) << pipe.err;
}

// Runs velmora-admin as admin() does and also gives the largest resident size it reached, in
// bytes. It is killed after two minutes.
std::pair<Outcome, long> measuredAdmin(const std::vector<std::string>& arguments) {
    TemporaryDirectory streams("velmora-admin-run");
    const fs::path out = streams.path() / "out";
    const fs::path err = streams.path() / "err";
    std::vector<const char*> argv{VELMORA_ADMIN};
    for (const std::string& argument : arguments)
        argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only what is safe between fork and exec; the alarm survives the exec.
        ::alarm(120);
        const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (outFd < 0 || errFd < 0 || ::dup2(outFd, STDOUT_FILENO) < 0 || ::dup2(errFd, STDERR_FILENO) < 0)
            ::_exit(126);
        ::execv(VELMORA_ADMIN, const_cast<char**>(argv.data()));
        ::_exit(127);
    }
    Outcome run;
    int status = 0;
    rusage usage{};
    if (pid > 0 && ::wait4(pid, &status, 0, &usage) == pid)
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readFile(out);
    run.err = readFile(err);
    return {run, usage.ru_maxrss * 1024L};
}

TEST(AdminRefusals, AHugeFileOfJSONThatIsNoEnvelopeIsRefusedWithLittleMemory) {
    TemporaryDirectory temporary("velmora-admin");
    const fs::path small = temporary.path() / "pequeña.velmorabackup";
    writeFile(small, Repository::encode(makeDocument(DocumentShape::tiny(), 4)));
    const auto [valid, baseline] = measuredAdmin({"verificar", small.string()});
    ASSERT_EQ(valid.status, 0) << valid.err;

    // 64 MB of valid JSON each: an envelope with a digest that does not match, and a payload alone.
    const std::string block(std::size_t(1) << 20, 'A');
    const std::vector<std::array<std::string, 4>> files = {
        {"espaciada", "{ \"format\": \"Velmora\", \"payload\": \"",
         "\", \"sha256\": \"" + std::string(64, '0') + "\", \"version\": 1 }", integrityMessage},
        {"carga", "{\"payload\":\"", "\"}",
         "No se pudo leer el documento en «format»: falta este campo obligatorio."},
    };
    for (const auto& [name, start, end, message] : files) {
        SCOPED_TRACE(name);
        const fs::path huge = temporary.path() / (name + ".velmorabackup");
        {
            std::ofstream out(huge, std::ios::binary);
            out << start;
            for (int i = 0; i < 64; ++i)
                out << block;
            out << end;
        }
        const auto [refused, peak] = measuredAdmin({"verificar", huge.string()});
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.err, message + "\n");
        EXPECT_LT(peak - baseline, 32L << 20)
            << "peak " << (peak >> 20) << " MB, baseline " << (baseline >> 20);
        fs::remove(huge);
    }
}

TEST_F(AdminData, MisuseEndsWithStatusTwoAndASpanishExplanation) {
    const std::string data = folder().string();
    struct Case {
        std::vector<std::string> arguments;
        std::string explanation;
    };
    const std::vector<Case> cases = {
        {{}, "Uso: velmora-admin"},
        {{"borrar"}, "Orden desconocida: borrar."},
        {{"verificar", data, "otra"}, "Argumento no esperado: otra."},
        {{"informe", "--todo"}, "Argumento no esperado: --todo."},
        {{"informe", "2026-02-30"}, "«2026-02-30» no es una jornada"},
        {{"informe", "mañana"}, "«mañana» no es una jornada"},
        {{"informe", "--csv", "--json", "--datos", data}, "Elige solo uno de --csv y --json."},
        {{"pedidos", "--desde"}, "Falta el valor de --desde."},
        {{"pedidos", "--desde", "2026-03-10", "--hasta", "2026-03-09", "--datos", data},
         "--hasta (2026-03-09) es anterior a --desde (2026-03-10)."},
    };
    for (const Case& c : cases) {
        const Outcome run = admin(c.arguments);
        EXPECT_EQ(run.status, 2) << c.explanation;
        EXPECT_NE(run.err.find(c.explanation), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
    for (const std::vector<std::string>& help :
         {std::vector<std::string>{"--help"}, std::vector<std::string>{"informe", "--help"},
          std::vector<std::string>{"pedidos", "-h"}}) {
        const Outcome run = admin(help);
        EXPECT_EQ(run.status, 0);
        EXPECT_NE(run.out.find("Uso: velmora-admin"), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("Usage"), std::string::npos) << run.out;
    }
}

// The version comes from the build's one declaration; the help offers it in Spanish.
TEST(AdminVersion, VersionIsTheProjectsOnOneLineOnStandardOutput) {
    const Outcome run = admin({"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, std::string("velmora-admin ") + VELMORA_VERSION + "\n");
    EXPECT_EQ(run.err, "");
    const Outcome help = admin({"--help"});
    EXPECT_NE(help.out.find("--version"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("Muestra la versión y termina"), std::string::npos) << help.out;
}

TEST_F(AdminData, DayReportAddsUpTheShiftsInEveryFormat) {
    const std::string day = lastDay();
    const std::vector<const Session*> shifts = sessionsOf(day);
    ASSERT_EQ(shifts.size(), 2u);
    Cents sales = 0, receipts = 0, cash = 0, card = 0;
    for (const Session* session : shifts) {
        sales += db().sales(*session);
        receipts += db().receipts(std::nullopt, *session);
        cash += db().receipts(PaymentMethod::cash, *session);
        card += db().receipts(PaymentMethod::card, *session);
    }
    std::vector<const Order*> cancelled;
    for (const Order& order : db().orders)
        if (order.preparation == Preparation::cancelled &&
            std::any_of(shifts.begin(), shifts.end(),
                        [&](const Session* s) { return s->id == order.sessionID; }))
            cancelled.push_back(&order);

    const Outcome csv = admin({"informe", day, "--csv", "--datos", folder().string()});
    ASSERT_EQ(csv.status, 0) << csv.err;
    const auto records = readCsv(csv.out);
    ASSERT_EQ(records.size(), 1 + shifts.size() + 1 + cancelled.size());
    EXPECT_EQ(records[0],
              (std::vector<std::string>{"tipo", "jornada", "tramo", "apertura", "cierre", "estado", "pedidos",
                                        "ventas", "cobros", "efectivo", "tarjeta", "pendiente",
                                        "pendiente_total", "pedido", "creado", "importe", "motivo"}));
    const std::regex isoTime(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)");
    EXPECT_EQ(records[1][5], "Manual");
    EXPECT_EQ(records[1][11], decimal(*shifts[0]->unpaidAtClose));
    EXPECT_EQ(records[2][5], "Abierto");
    EXPECT_EQ(records[2][4], "") << "an open shift has no closing time";
    EXPECT_TRUE(std::regex_match(records[1][3], isoTime)) << records[1][3];
    const std::vector<std::string>& total = records[3];
    EXPECT_EQ(total[0], "jornada");
    EXPECT_EQ((std::vector<std::string>(total.begin() + 7, total.begin() + 11)),
              (std::vector<std::string>{decimal(sales), decimal(receipts), decimal(cash), decimal(card)}));
    EXPECT_EQ(total[12], decimal(db().unpaid()));
    for (std::size_t k = 0; k < cancelled.size(); ++k) {
        const std::vector<std::string>& row = records[4 + k];
        EXPECT_EQ(row[0], "anulado");
        EXPECT_EQ(row[13], std::to_string(cancelled[k]->number));
        EXPECT_EQ(row[15], decimal(cancelled[k]->total()));
        EXPECT_EQ(row[16], asSpreadsheetText(cancelled[k]->cancellationReason.value_or("")));
    }

    const Outcome json = admin({"informe", day, "--json", "--datos", folder().string()});
    ASSERT_EQ(json.status, 0) << json.err;
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    ASSERT_EQ(parser.parse(json.out).get(root), simdjson::SUCCESS) << json.out;
    EXPECT_EQ(std::string_view(root["businessDay"]), day);
    EXPECT_EQ(int64_t(root["totals"]["sales"]), sales);
    EXPECT_EQ(int64_t(root["totals"]["cash"]), cash);
    EXPECT_EQ(int64_t(root["totals"]["card"]), card);
    EXPECT_EQ(simdjson::dom::array(root["sessions"]).size(), shifts.size());
    EXPECT_TRUE(root["sessions"].at(1)["closed"].is_null());
    EXPECT_EQ(simdjson::dom::array(root["cancelled"]).size(), cancelled.size());

    const Outcome text = admin({"informe", day, "--datos", folder().string()});
    ASSERT_EQ(text.status, 0) << text.err;
    const std::string currency = db().settings.currencyCode();
    for (const std::string& line :
         {"Jornada comercial " + day, std::string("Tramo 1 · Cerrado · Manual"),
          std::string("Tramo 2 · Abierto"), "Ventas de la jornada: " + FiscalMoney::text(sales, currency),
          "Efectivo cobrado: " + FiscalMoney::text(cash, currency),
          "Pedidos anulados: " + std::to_string(cancelled.size())})
        EXPECT_NE(text.out.find(line), std::string::npos) << line << "\n" << text.out;
    // Typed text never reaches the terminal with its control characters.
    EXPECT_EQ(std::count_if(text.out.begin(), text.out.end(),
                            [](char c) { return static_cast<unsigned char>(c) < 0x20 && c != '\n'; }),
              0);

    // No day given: today's business day, which has no shift in this old data.
    const std::string today = BusinessClock::day(Instant::now(), db().settings);
    const Outcome now = admin({"informe", "--datos", folder().string()});
    EXPECT_EQ(now.status, 0) << now.err;
    EXPECT_NE(now.out.find("Jornada comercial " + today), std::string::npos) << now.out;
    EXPECT_NE(now.out.find("No hay tramos de caja en esta jornada."), std::string::npos);
}

TEST_F(AdminData, OrderListReadsBackAsOneRowPerOrderWithItsTextIntact) {
    // Every day but the first, so that the range has an edge on one side only.
    const std::string from = db().sessions[1].businessDay;
    const std::string to = lastDay();
    std::map<Uuid, std::string> dayOf;
    for (const Session& session : db().sessions)
        dayOf[session.id] = session.businessDay;
    std::vector<const Order*> expected;
    for (const Order& order : db().orders)
        if (dayOf[order.sessionID] >= from && dayOf[order.sessionID] <= to) expected.push_back(&order);
    ASSERT_FALSE(expected.empty());

    const Outcome run =
        admin({"pedidos", "--desde", from, "--hasta", to, "--csv", "--datos", folder().string()});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto records = readCsv(run.out);
    ASSERT_EQ(records.size(), expected.size() + 1);
    EXPECT_EQ(records[0],
              (std::vector<std::string>{"numero", "jornada", "creado", "cliente", "modo", "lineas", "total",
                                        "forma_pago", "cobrado", "preparacion", "motivo_anulacion"}));
    bool sawQuote = false, sawComma = false, sawLineBreak = false;
    for (std::size_t k = 0; k < expected.size(); ++k) {
        const Order& order = *expected[k];
        const std::vector<std::string>& row = records[k + 1];
        ASSERT_EQ(row.size(), 11u);
        const std::optional<Payment> payment = db().paymentFor(order);
        EXPECT_EQ(row[0], std::to_string(order.number));
        EXPECT_EQ(row[1], dayOf[order.sessionID]);
        EXPECT_EQ(row[3], asSpreadsheetText(order.draft.name));
        EXPECT_EQ(row[4], rawValue(order.draft.mode));
        EXPECT_EQ(row[5].substr(0, row[5].find(" × ")), std::to_string(order.draft.lines.front().quantity));
        EXPECT_EQ(row[6], decimal(order.total()));
        EXPECT_EQ(row[7], payment ? std::string(rawValue(payment->method)) : "");
        EXPECT_EQ(row[8], payment ? decimal(payment->cents) : "");
        EXPECT_EQ(row[9], rawValue(order.preparation));
        EXPECT_EQ(row[10], asSpreadsheetText(order.cancellationReason.value_or("")));
        sawQuote = sawQuote || order.draft.name.find('"') != std::string::npos;
        sawComma = sawComma || row[5].find(',') != std::string::npos;
        sawLineBreak = sawLineBreak || order.draft.name.find('\n') != std::string::npos;
    }
    // The awkward names put quoting to the test.
    EXPECT_TRUE(sawQuote && sawComma && sawLineBreak) << sawQuote << sawComma << sawLineBreak;

    const Outcome text = admin({"pedidos", "--desde", from, "--hasta", to, "--datos", folder().string()});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(
        text.out.find(std::to_string(expected.size()) + " pedidos en las jornadas " + from + " a " + to),
        std::string::npos)
        << text.out;
}

// The text of every page of a PDF, read by poppler.
std::vector<std::string> pdfPages(const fs::path& file) {
    std::vector<std::string> pages;
    std::unique_ptr<poppler::document> document(poppler::document::load_from_file(file.string()));
    if (!document) return pages;
    for (int i = 0; i < document->pages(); ++i) {
        std::unique_ptr<poppler::page> page(document->create_page(i));
        const poppler::byte_array text = page->text().to_utf8();
        pages.emplace_back(text.begin(), text.end());
    }
    return pages;
}

// The figures of informe are the core's closing report, shift by shift, on every day that has
// cancelled orders and on the last one (two shifts, the first closed by hand).
TEST_F(AdminData, DayReportFiguresAreTheClosingReportsOfTheCore) {
    std::set<std::string> days{lastDay()};
    for (const Order& order : db().orders)
        if (order.preparation == Preparation::cancelled && days.size() < 4)
            for (const Session& session : db().sessions)
                if (session.id == order.sessionID) days.insert(session.businessDay);
    ASSERT_GE(days.size(), 2u) << "the generated data has cancelled orders";
    for (const std::string& day : days) {
        SCOPED_TRACE(day);
        const ClosingReport report = ClosingReport::ofDay(db(), day);
        const Outcome json = admin({"informe", day, "--json", "--datos", folder().string()});
        ASSERT_EQ(json.status, 0) << json.err;
        simdjson::dom::parser parser;
        simdjson::dom::element root;
        ASSERT_EQ(parser.parse(json.out).get(root), simdjson::SUCCESS) << json.out;
        const simdjson::dom::array sessions = root["sessions"];
        ASSERT_EQ(sessions.size(), report.shifts.size());
        std::size_t k = 0;
        for (const simdjson::dom::element session : sessions) {
            const ClosingReport::Shift& shift = report.shifts[k++];
            EXPECT_EQ(std::string_view(session["id"]), shift.session.id.text());
            EXPECT_EQ(uint64_t(session["shift"]), shift.ordinal);
            EXPECT_EQ(uint64_t(session["orders"]), shift.orders);
            EXPECT_EQ(uint64_t(session["cancelled"]), shift.cancelled);
            EXPECT_EQ(int64_t(session["sales"]), shift.sales);
            EXPECT_EQ(int64_t(session["receipts"]), shift.receipts);
            EXPECT_EQ(int64_t(session["cash"]), shift.cash);
            EXPECT_EQ(int64_t(session["card"]), shift.card);
        }
        const simdjson::dom::element totals = root["totals"];
        EXPECT_EQ(uint64_t(totals["orders"]), report.orders);
        EXPECT_EQ(int64_t(totals["sales"]), report.sales);
        EXPECT_EQ(int64_t(totals["receipts"]), report.receipts);
        EXPECT_EQ(int64_t(totals["cash"]), report.cash);
        EXPECT_EQ(int64_t(totals["card"]), report.card);
        EXPECT_EQ(int64_t(totals["unpaid"]), report.unpaid);
        EXPECT_EQ(uint64_t(totals["unpaidOrders"]), report.unpaidOrders);
        EXPECT_EQ(int64_t(totals["unpaidAll"]), report.unpaidAll);
        const simdjson::dom::array cancelled = root["cancelled"];
        ASSERT_EQ(cancelled.size(), report.cancelled.size());
        k = 0;
        for (const simdjson::dom::element order : cancelled) {
            EXPECT_EQ(int64_t(order["number"]), report.cancelled[k].order.number);
            EXPECT_EQ(uint64_t(order["shift"]), report.cancelled[k].shift);
            ++k;
        }
    }
}

TEST_F(AdminData, DayReportAsPdfIsTheClosingReportWithoutTouchingTheData) {
    const std::string day = lastDay();
    const ClosingReport report = ClosingReport::ofDay(db(), day);
    const std::string currency = db().settings.currencyCode();
    const auto before = stamp(folder());
    const fs::path suppressions = folder().parent_path() / "lsan.supp";
    writeFile(suppressions, "leak:libfontconfig.so\n");
    ScopedVariable lsan("LSAN_OPTIONS", "suppressions=" + suppressions.string());

    const fs::path pdf = folder().parent_path() / "cierre.pdf";
    const Outcome run = admin({"informe", day, "--pdf", pdf.string(), "--datos", folder().string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind("Informe de cierre de la jornada " + day + " (2 tramos; papel ", 0), 0u)
        << run.out;
    std::string text;
    for (const std::string& page : pdfPages(pdf))
        text += page;
    for (const std::string& expected :
         {std::string("INFORME DE CIERRE"), "Jornada comercial " + day, std::string("TRAMO 1"),
          std::string("TRAMO 2"), FiscalMoney::text(report.sales, currency),
          FiscalMoney::text(report.cash, currency), std::string("VENTAS POR MODO")})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
    struct stat status {};
    ASSERT_EQ(::stat(pdf.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    // To standard output, as a PDF, with nothing else.
    const fs::path piped = folder().parent_path() / "salida.pdf";
    const Outcome toStdout =
        admin({"informe", day, "--pdf", "-", "--datos", folder().string()}, piped.c_str());
    EXPECT_EQ(toStdout.status, 0) << toStdout.err;
    EXPECT_EQ(readFile(piped).substr(0, 5), "%PDF-");

    // Never into the data folder, never with another format.
    const Outcome onData =
        admin({"informe", day, "--pdf", (folder() / "Velmora.json").string(), "--datos", folder().string()});
    EXPECT_EQ(onData.status, 1);
    EXPECT_NE(onData.err.find("no se guarda en la carpeta de datos"), std::string::npos) << onData.err;
    for (const char* format : {"--csv", "--json"}) {
        const Outcome both =
            admin({"informe", day, "--pdf", pdf.string(), format, "--datos", folder().string()});
        EXPECT_EQ(both.status, 2);
        EXPECT_NE(both.err.find("--pdf no se combina con --csv ni con --json."), std::string::npos)
            << both.err;
    }
    const Outcome empty = admin({"informe", day, "--pdf", "", "--datos", folder().string()});
    EXPECT_EQ(empty.status, 2);
    EXPECT_NE(empty.err.find("--pdf está vacío"), std::string::npos) << empty.err;
    const Outcome help = admin({"informe", "--help"});
    EXPECT_NE(help.out.find("--pdf FICHERO.pdf"), std::string::npos) << help.out;
    EXPECT_EQ(stamp(folder()), before);
}

TEST_F(AdminData, TicketWritesTheOrdersTicketsWithoutTouchingTheData) {
    // A paid order never printed, and one printed before, whose tickets carry the reprint mark.
    const auto paidOnce = std::find_if(db().orders.begin(), db().orders.end(), [&](const Order& o) {
        return db().paymentFor(o) && o.draft.lines.size() < 4;
    });
    ASSERT_NE(paidOnce, db().orders.end());
    const auto reprinted = std::find_if(db().orders.begin(), db().orders.end(), [](const Order& o) {
        return o.printAttempts > 0 && o.draft.lines.size() < 4;
    });
    ASSERT_NE(reprinted, db().orders.end());
    const auto before = stamp(folder());
    const std::string currency = db().settings.currencyCode();
    // Fontconfig keeps its font caches until the process ends; in a sanitized build that is a
    // leak report of the library's, not of ours.
    const fs::path suppressions = folder().parent_path() / "lsan.supp";
    writeFile(suppressions, "leak:libfontconfig.so\n");
    ScopedVariable lsan("LSAN_OPTIONS", "suppressions=" + suppressions.string());

    for (const Order* order : {&*paidOnce, &*reprinted}) {
        SCOPED_TRACE(order->number);
        const fs::path pdf = folder().parent_path() / ("Pedido-" + std::to_string(order->number) + ".pdf");
        const Outcome run = admin({"ticket", std::to_string(order->number), "--salida", pdf.string(),
                                   "--datos", folder().string()});
        ASSERT_EQ(run.status, 0) << run.err;
        const std::vector<std::string> pages = pdfPages(pdf);
        ASSERT_EQ(pages.size(), db().settings.recipients().size());
        const std::string& customer = pages.back();
        EXPECT_NE(customer.find("CLIENTE / REPARTO · #" + std::to_string(order->number)), std::string::npos)
            << customer;
        EXPECT_NE(customer.find("TOTAL: " + FiscalMoney::text(order->total(), currency)), std::string::npos)
            << customer;
        const bool copy = order->printAttempts > 0;
        for (const std::string& page : pages)
            EXPECT_EQ(page.find("COPIA / REIMPRESIÓN") != std::string::npos, copy) << page;
    }

    const fs::path missing = folder().parent_path() / "no.pdf";
    const Outcome unknown =
        admin({"ticket", "999999", "--salida", missing.string(), "--datos", folder().string()});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.err, "No hay ningún pedido con el número 999999.\n");
    EXPECT_FALSE(fs::exists(missing));
    // A slip of the output name never replaces the document with a PDF.
    for (const fs::path& onData : {folder() / "Velmora.json", folder() / "Pedido.pdf"}) {
        const Outcome refused = admin({"ticket", std::to_string(paidOnce->number), "--salida",
                                       onData.string(), "--datos", folder().string()});
        EXPECT_EQ(refused.status, 1) << onData;
        EXPECT_NE(refused.err.find("no se guarda en la carpeta de datos"), std::string::npos) << refused.err;
    }
    EXPECT_EQ(stamp(folder()), before);
}

TEST_F(AdminData, AListingThatCannotBeWrittenIsAFailure) {
    const Outcome run = admin({"pedidos", "--desde", db().sessions.front().businessDay, "--hasta", lastDay(),
                               "--csv", "--datos", folder().string()},
                              "/dev/full");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "No se pudo escribir la salida.\n");
}

// Whether the text holds a byte that could drive a terminal: a C0 control other than a line
// break, DEL, or a C1 control (U+0080…U+009F).
bool holdsControl(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if ((byte < 0x20 && byte != '\n') || byte == 0x7F) return true;
        if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(text[i + 1]) <= 0x9F)
            return true;
    }
    return false;
}

// A data folder whose document is written as given, past the integrity rules that a save applies:
// what a hostile or hand-edited file holds.
void writeRaw(const fs::path& folder, const std::string& json) {
    fs::create_directories(folder);
    writeFile(folder / "Velmora.json", Envelope::wrap(json));
}

// A night across midnight in Madrid: order A at 00:40 on 23 May 2025, in the shift of business day
// 22 May; order B at 16:19 on 23 May, in the shift of business day 23 May.
struct MadridNight {
    Database db;
    std::int64_t late = 0;
    std::int64_t afternoon = 0;
};

MadridNight madridNight() {
    MadridNight night;
    night.db = makeDocument(DocumentShape::tiny(), 7);
    Database& db = night.db;
    db.settings.timeZone = "Europe/Madrid";
    db.sessions.modify(0).businessDay = "2025-05-22";
    db.sessions.modify(1).businessDay = "2025-05-23";
    for (std::size_t i = 0; i < db.orders.size(); ++i) {
        Order& order = db.orders.modify(i);
        if (night.late == 0 && order.sessionID == db.sessions[0].id) {
            order.created = Instant::fromUnix(1747953600); // 2025-05-22 22:40 UTC
            night.late = order.number;
        } else if (night.afternoon == 0 && order.sessionID == db.sessions[1].id) {
            order.created = Instant::fromUnix(1748009940); // 2025-05-23 14:19 UTC
            night.afternoon = order.number;
        }
    }
    return night;
}

TEST(AdminClock, TicketsAndListingsShowTheBusinessClockWhereverTheToolRuns) {
    TemporaryDirectory temporary("velmora-admin-clock");
    const MadridNight night = madridNight();
    ASSERT_TRUE(night.late != 0 && night.afternoon != 0);
    const fs::path folder = temporary.path() / "Velmora";
    Repository(folder, false).save(night.db);
    // A server or a laptop whose clock is on UTC.
    ScopedVariable zone("TZ", "UTC");
    const fs::path suppressions = temporary.path() / "lsan.supp";
    writeFile(suppressions, "leak:libfontconfig.so\n");
    ScopedVariable lsan("LSAN_OPTIONS", "suppressions=" + suppressions.string());

    const fs::path pdf = temporary.path() / "ticket.pdf";
    const Outcome ticket = admin(
        {"ticket", std::to_string(night.afternoon), "--salida", pdf.string(), "--datos", folder.string()});
    ASSERT_EQ(ticket.status, 0) << ticket.err;
    const std::vector<std::string> pages = pdfPages(pdf);
    ASSERT_FALSE(pages.empty());
    for (const std::string& page : pages) {
        EXPECT_NE(page.find("16:19"), std::string::npos) << page;
        EXPECT_EQ(page.find("14:19"), std::string::npos) << page;
    }

    // The time after midnight goes with its own calendar date; the business day is named apart.
    const Outcome listing =
        admin({"pedidos", "--desde", "2025-05-22", "--hasta", "2025-05-23", "--datos", folder.string()});
    ASSERT_EQ(listing.status, 0) << listing.err;
    const std::string late = "#" + std::to_string(night.late) + " · 2025-05-23 00:40 · jornada 2025-05-22 · ";
    const std::string afternoon =
        "#" + std::to_string(night.afternoon) + " · 2025-05-23 16:19 · jornada 2025-05-23 · ";
    EXPECT_NE(listing.out.find(late), std::string::npos) << listing.out;
    EXPECT_NE(listing.out.find(afternoon), std::string::npos) << listing.out;
    EXPECT_EQ(listing.out.find("2025-05-22 · 00:40"), std::string::npos) << listing.out;
}

// ticket --salida never writes inside a data folder or over the document read, whichever way the
// path or the document is named; a refused run leaves the folder exactly as it was.
TEST_F(AdminData, TicketOutputNeverLandsInADataFolder) {
    Repository(folder(), true).save(db()); // a second save leaves Velmora.previous.json
    ASSERT_TRUE(fs::exists(folder() / "Velmora.previous.json"));
    ASSERT_TRUE(fs::exists(folder() / ".lock"));
    fs::create_directory(folder() / "Copias");
    const fs::path dailyBackup = folder() / "Copias" / "Jornada-2026-03-09.velmorabackup";
    Repository(folder(), false).exportTo(db(), dailyBackup);
    const fs::path outside = folder().parent_path() / "fuera";
    fs::create_directory(outside);
    const fs::path backup = outside / "copia.velmorabackup";
    Repository(folder(), false).exportTo(db(), backup);
    const fs::path link = outside / "enlace";
    fs::create_directory_symlink(folder(), link);
    const fs::path unrelated = outside / "otra-carpeta-de-Velmora";
    const std::string number = std::to_string(db().orders.front().number);
    const std::string data = folder().string();

    struct Case {
        std::string name;
        fs::path document;
        fs::path output;
        // The folder Velmora uses; when empty, one that has nothing to do with the cases.
        fs::path defaultFolder = {};
    };
    const std::vector<Case> cases = {
        {"previous copy read, live document written", folder() / "Velmora.previous.json",
         folder() / "Velmora.json"},
        {"into the daily backups", folder(), folder() / "Copias" / "Pedido.pdf"},
        {"a daily backup read, the live document written", dailyBackup, folder() / "Velmora.json"},
        {"over the lock of a running Velmora", folder(), folder() / ".lock"},
        {"through a link to the folder", folder(), link / "Velmora.json"},
        {"through dot-dot", folder(), folder() / "Copias" / ".." / "Velmora.json"},
        {"relative to a link", folder(), link / "Copias" / ".." / "Pedido.pdf"},
        {"over the backup read", backup, backup},
        {"the default folder while a backup is read", backup, folder() / "Pedido.pdf", folder()},
    };
    const auto before = stamp(folder());
    const auto copiesBefore = stamp(folder() / "Copias");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedVariable dataDir("VELMORA_DATA_DIR",
                               c.defaultFolder.empty() ? unrelated.string() : c.defaultFolder.string());
        const Outcome run =
            admin({"ticket", number, "--salida", c.output.string(), "--datos", c.document.string()});
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("no se guarda en la carpeta de datos"), std::string::npos) << run.err;
    }
    // Compared as a whole: a difference would print every byte of the data.
    EXPECT_TRUE(stamp(folder()) == before);
    EXPECT_TRUE(stamp(folder() / "Copias") == copiesBefore);
    EXPECT_EQ(readFile(backup).substr(0, 1), "{");

    // Standard output sent by the shell into the data folder is refused before a byte is written.
    const fs::path previous = folder() / "Velmora.previous.json";
    const Outcome toStdout = admin({"ticket", number, "--salida", "-", "--datos", data}, previous.c_str());
    EXPECT_EQ(toStdout.status, 1);
    EXPECT_NE(toStdout.err.find("no se guarda en la carpeta de datos"), std::string::npos) << toStdout.err;
    EXPECT_EQ(fs::file_size(previous), 0u);
}

TEST_F(AdminData, TicketPdfIsPrivateAndOnlyEverReplacesARegularFile) {
    const fs::path outside = folder().parent_path() / "fuera";
    fs::create_directory(outside);
    const fs::path suppressions = outside / "lsan.supp";
    writeFile(suppressions, "leak:libfontconfig.so\n");
    ScopedVariable lsan("LSAN_OPTIONS", "suppressions=" + suppressions.string());
    const std::string number = std::to_string(db().orders.front().number);
    const std::string data = folder().string();
    auto mode = [](const fs::path& file) {
        struct stat status {};
        ::stat(file.c_str(), &status);
        return status.st_mode & 07777;
    };

    // New, and over an existing file anyone could read: the ticket names the customer.
    const fs::path fresh = outside / "nuevo.pdf";
    const fs::path existing = outside / "existente.pdf";
    writeFile(existing, "viejo");
    ::chmod(existing.c_str(), 0644);
    for (const fs::path& pdf : {fresh, existing}) {
        const Outcome run = admin({"ticket", number, "--salida", pdf.string(), "--datos", data});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(readFile(pdf).substr(0, 5), "%PDF-");
        EXPECT_EQ(mode(pdf), 0600u) << pdf;
    }

    // A link leads to the file that is replaced; the link stays.
    const fs::path target = outside / "destino.pdf";
    writeFile(target, "viejo");
    const fs::path link = outside / "enlace.pdf";
    fs::create_symlink(target, link);
    const Outcome throughLink = admin({"ticket", number, "--salida", link.string(), "--datos", data});
    ASSERT_EQ(throughLink.status, 0) << throughLink.err;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readFile(target).substr(0, 5), "%PDF-");

    // What is not a regular file is refused at once and left alone.
    const fs::path pipe = outside / "tuberia.pdf";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const fs::path folderNamed = outside / "carpeta.pdf";
    fs::create_directory(folderNamed);
    const fs::path dangling = outside / "roto.pdf";
    fs::create_symlink(outside / "no-existe" / "x.pdf", dangling);
    struct Case {
        fs::path output;
        std::string message;
    };
    for (const Case& c : std::vector<Case>{
             {pipe, "no es un archivo normal: es una tubería"},
             {folderNamed, "no es un archivo normal: es una carpeta"},
             {outside / "no-existe" / "x.pdf", "no existe"},
             {dangling, "es un enlace que no lleva a ningún archivo"},
             {fs::path(outside.string() + "/"), "es una carpeta"},
         }) {
        const Outcome run = admin({"ticket", number, "--salida", c.output.string(), "--datos", data});
        EXPECT_EQ(run.status, 1) << c.output;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
    EXPECT_TRUE(fs::is_fifo(pipe));
    EXPECT_TRUE(fs::is_empty(folderNamed));
    EXPECT_FALSE(fs::exists(outside / "no-existe"));
}

// Text from a hostile file reaches neither the terminal with its control characters nor a
// spreadsheet as a formula.
TEST(AdminHostileData, FileContentIsNeutralisedOnTheTerminalAndInSpreadsheets) {
    TemporaryDirectory temporary("velmora-admin-hostile");
    const MadridNight night = madridNight();

    // A currency that clears the screen would be written after every amount: refused on load.
    Database currency = night.db;
    currency.settings.currency = "\x1b[2J";
    writeRaw(temporary.path() / "currency", toJSON(currency));
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"verificar", (temporary.path() / "currency").string()},
          std::vector<std::string>{"informe", "2025-05-22", "--datos",
                                   (temporary.path() / "currency").string()}}) {
        const Outcome run = admin(arguments);
        EXPECT_EQ(run.status, 1) << arguments.front();
        EXPECT_NE(run.err.find(inconsistentMessage), std::string::npos) << run.err;
        EXPECT_FALSE(holdsControl(run.out + run.err)) << arguments.front();
    }

    // A value the reader quotes in its refusal.
    std::string json = toJSON(night.db);
    const std::size_t mode = json.find("\"mode\":\"") + 8;
    json.replace(mode, json.find('"', mode) - mode, "\\u001b]0;owned\\u0007\\u009b2J");
    writeRaw(temporary.path() / "mode", json);
    const Outcome quoted = admin({"verificar", (temporary.path() / "mode").string()});
    EXPECT_EQ(quoted.status, 1);
    EXPECT_NE(quoted.err.find("no es un valor admitido"), std::string::npos) << quoted.err;
    EXPECT_FALSE(holdsControl(quoted.err)) << quoted.err;
    EXPECT_TRUE(quoted.out.ends_with("Resultado: no válido\n")) << quoted.out;

    // A business day and a closing reason written by someone else.
    Database typed = night.db;
    typed.sessions.modify(0).businessDay = "2025-05-22\x1b[31m\x07";
    typed.sessions.modify(1).closed = typed.sessions[1].opened;
    typed.sessions.modify(1).reason = "=HYPERLINK(\"http://x\";\"y\")";
    writeRaw(temporary.path() / "typed", toJSON(typed));
    const std::string typedData = (temporary.path() / "typed").string();
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"pedidos", "--desde", "2025-05-22", "--hasta", "2025-05-23", "--datos",
                                   typedData},
          std::vector<std::string>{"verificar", typedData},
          std::vector<std::string>{"informe", "2025-05-23", "--datos", typedData}}) {
        const Outcome run = admin(arguments);
        EXPECT_EQ(run.status, 0) << arguments.front() << ": " << run.err;
        EXPECT_FALSE(holdsControl(run.out)) << arguments.front() << ": " << run.out;
    }
    const Outcome csv = admin({"informe", "2025-05-23", "--csv", "--datos", typedData});
    ASSERT_EQ(csv.status, 0) << csv.err;
    const auto records = readCsv(csv.out);
    ASSERT_GE(records.size(), 2u);
    EXPECT_EQ(records[1][0], "tramo");
    EXPECT_EQ(records[1][5], "'=HYPERLINK(\"http://x\";\"y\")");
}

TEST_F(AdminData, MisuseAndFileErrorsAreWordedForWhatHappened) {
    const std::string data = folder().string();
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string explanation;
    };
    const fs::path loop = folder().parent_path() / "bucle";
    fs::create_symlink(loop, loop);
    const fs::path folderAsFile = folder().parent_path() / "carpeta-como-datos";
    fs::create_directories(folderAsFile / "Velmora.json");
    const std::vector<Case> cases = {
        {{"informe", "--datos", data, "--datos", data}, 2, "Se ha escrito --datos más de una vez"},
        {{"pedidos", "--desde", "hoy", "--desde=ayer", "--datos", data},
         2,
         "Se ha escrito --desde más de una vez"},
        {{"pedidos", "--hasta"}, 2, "Falta el valor de --hasta."},
        {{"verificar", ""}, 2, "La RUTA está vacía"},
        {{"informe", "--datos", ""}, 2, "--datos está vacío"},
        {{"ticket", "1", "--salida", "", "--datos", data}, 2, "--salida está vacío"},
        {{"ticket", "1", "--datos", data}, 2, "Falta --salida FICHERO.pdf."},
        {{"verificar", folderAsFile.string()}, 1, "no es un archivo normal: es una carpeta"},
        {{"verificar", loop.string()}, 1, "demasiados enlaces simbólicos"},
        {{"verificar", (folder() / std::string(300, 'x')).string()}, 1, "el nombre es demasiado largo"},
    };
    for (const Case& c : cases) {
        const Outcome run = admin(c.arguments);
        EXPECT_EQ(run.status, c.status) << c.explanation;
        EXPECT_NE(run.err.find(c.explanation), std::string::npos) << run.err;
        // The system's English texts never reach the user.
        for (const char* english : {"Too many", "too long", "Is a directory", "No such"})
            EXPECT_EQ(run.err.find(english), std::string::npos) << run.err;
    }
}

} // namespace

// `llamada` tells the Velmora of this user of a call through the socket in the runtime folder.
TEST(AdminCall, AnnouncesTheCallOrSaysInSpanishWhyItCouldNot) {
    const TemporaryDirectory runtime("velmora-runtime");
    const ScopedVariable variable("XDG_RUNTIME_DIR", runtime.path().string());

    Outcome run = admin({"llamada", "612345678"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "Velmora no está abierto para este usuario en este ordenador: no se ha podido avisar de "
              "la llamada de 612 345 678.\n");

    {
        // Velmora's end, answering in this process while velmora-admin runs in its own.
        CallSocketListener listener(runtime.path(), ::geteuid());
        std::string request;
        std::thread velmora([&] {
            for (int attempt = 0; attempt < 2000; ++attempt) {
                std::optional<CallSocketListener::Caller> caller = listener.accept();
                if (!caller) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    continue;
                }
                EXPECT_EQ(caller->user, ::geteuid());
                char buffer[128];
                for (int wait = 0; wait < 2000 && request.find('\n') == std::string::npos; ++wait) {
                    const ssize_t count = ::recv(caller->descriptor, buffer, sizeof(buffer), 0);
                    if (count > 0)
                        request.append(buffer, static_cast<std::size_t>(count));
                    else
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
                static_cast<void>(::send(caller->descriptor, callAcceptedReply.data(),
                                         callAcceptedReply.size(), MSG_NOSIGNAL));
                ::close(caller->descriptor);
                return;
            }
        });
        run = admin({"llamada", "+34 612 345 678"});
        velmora.join();
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, "Llamada de 612 345 678 avisada a Velmora.\n");
        EXPECT_EQ(request, "llamada +34 612 345 678\n");
    }

    // A folder others can enter is not trusted with the number.
    ::chmod(runtime.path().c_str(), 0755);
    run = admin({"llamada", "612345678"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("está abierta a otros usuarios"), std::string::npos) << run.err;
    ::chmod(runtime.path().c_str(), 0700);

    // What is no telephone number never leaves the command line.
    run = admin({"llamada"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("Falta el número de quien llama."), std::string::npos) << run.err;
    for (const char* garbage : {"", "anonymous", "12345", "612345678\x1b[2J"}) {
        run = admin({"llamada", garbage});
        EXPECT_EQ(run.status, 2) << garbage;
        EXPECT_NE(run.err.find("no es un número de teléfono"), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find('\x1b'), std::string::npos);
    }

    run = admin({"llamada", "--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("$XDG_RUNTIME_DIR"), std::string::npos) << run.out;
    run = admin({"--help"});
    EXPECT_NE(run.out.find("llamada"), std::string::npos) << run.out;
}
