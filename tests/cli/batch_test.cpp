// The command-line companion's logic against the fake file services: its
// arguments, the decisions for each file, and a batch with each file-service
// call failing in turn.
#include "batch/Pool.h"
#include "cli/Batch.h"
#include "convert/Umlaute.h"
#include "platform/FakePlatform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <iostream>
#include <set>
#include <stdexcept>
#include <thread>

namespace velmo::cli {
namespace {

using namespace std::string_literals;
using batch::RunInOrder;

const std::string kSingle = "-- Gr\xFC\xDF"
                            "e\r\nprint(\"\xC4rger \xF6\")\r\n";
const std::string kPairs = UmlauteToTwoCharacterForm(kSingle);

// Folders for the fake's files, which it keeps by full path.
class FakeDirectories final : public DirectoryServices {
  public:
    explicit FakeDirectories(FakePlatform& fake) : fake_(fake) {}
    PathKind KindOf(const std::string& path) override {
        if (fake_.FindFile(path))
            return links.count(path) ? PathKind::Link : PathKind::File;
        for (const auto& [key, name] : fake_.displayNames)
            if (name.rfind(path + "\\", 0) == 0)
                return PathKind::Directory;
        return PathKind::Missing;
    }
    std::vector<std::string> ListDirectory(const std::string& directory) override {
        std::set<std::string> names;
        for (const auto& [key, name] : fake_.displayNames)
            if (name.rfind(directory + "\\", 0) == 0) {
                const std::string rest = name.substr(directory.size() + 1);
                names.insert(rest.substr(0, rest.find('\\')));
            }
        return {names.begin(), names.end()};
    }
    char Separator() const override { return '\\'; }
    bool IsHidden(const std::string& path) override { return hidden.count(path) > 0; }
    std::string Canonical(const std::string& path) const override {
        std::string lower = path;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return lower;
    }
    std::set<std::string> links, hidden;

  private:
    FakePlatform& fake_;
};

class Recorder final : public Reporter {
  public:
    void Changed(const std::string& line) override { out.push_back(line); }
    void Notice(const std::string& line) override { notices.push_back(line); }
    void Failure(const std::string& line) override { errors.push_back(line); }
    void Progress(std::size_t, std::size_t) override {}
    void Summary(const std::string& line) override { summary = line; }
    std::vector<std::string> out, notices, errors;
    std::string summary;
};

Options Make(Direction direction, std::vector<std::string> paths) {
    Options options;
    options.direction = direction;
    options.paths = std::move(paths);
    return options;
}

std::vector<std::string> BackupsIn(const FakePlatform& fake) {
    std::vector<std::string> names;
    for (const auto& [key, name] : fake.displayNames)
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".bak") == 0)
            names.push_back(name);
    return names;
}

// The lines of a run, singular and plural right.
TEST(CliReport, LinesInBothNumbers) {
    EXPECT_EQ(ChangedLine("a.lua", 1, true), "a.lua: 1 Zeichen würde umgewandelt");
    EXPECT_EQ(ChangedLine("a.lua", 2, true), "a.lua: 2 Zeichen würden umgewandelt");
    EXPECT_EQ(ChangedLine("a.lua", 1, false), "a.lua: 1 Zeichen umgewandelt");
    EXPECT_EQ(SummaryLine({1, 0, 0, 0}, true),
              "1 Datei würde umgewandelt, 0 unverändert, 0 übersprungen, 0 Fehler");
    EXPECT_EQ(SummaryLine({2, 1, 3, 4}, false),
              "2 Dateien umgewandelt, 1 unverändert, 3 übersprungen, 4 Fehler");
    EXPECT_EQ(SkippedLine("b.lua", "symbolische Verknüpfung"),
              "b.lua: übersprungen, symbolische Verknüpfung");
}

TEST(CliArguments, Table) {
    using A = Arguments::Action;
    struct Case {
        std::vector<std::string> args;
        A action;
        bool check, backup, anyway, quiet;
        std::vector<std::string> paths;
    };
    const Case cases[] = {
        {{"fuer-velmo", "karten"}, A::Run, false, true, false, false, {"karten"}},
        {{"für-mich", "--pruefen", "a.lua", "b"}, A::Run, true, true, false, false, {"a.lua", "b"}},
        {{"--leise", "fuer-velmo", "--ohne-sicherung", "--trotzdem", "x"},
         A::Run,
         false,
         false,
         true,
         true,
         {"x"}},
        {{"fuer-velmo", "-q", "--", "--pruefen", "-x.lua"},
         A::Run,
         false,
         true,
         false,
         true,
         {"--pruefen", "-x.lua"}},
        {{"fuer-velmo", "-"}, A::Run, false, true, false, false, {"-"}},
        {{"fuer-velmo", "-", "a.lua"}, A::Usage, false, true, false, false, {}},
        {{"fuer-velmo"}, A::Usage, false, true, false, false, {}},
        {{}, A::Usage, false, true, false, false, {}},
        {{"umwandeln", "x"}, A::Usage, false, true, false, false, {}},
        {{"fuer-velmo", "--schnell", "x"}, A::Usage, false, true, false, false, {}},
        {{"fuer-velmo", "x", "--help"}, A::Help, false, true, false, false, {}},
        {{"-h"}, A::Help, false, true, false, false, {}},
        {{"--version"}, A::Version, false, true, false, false, {}},
    };
    for (const Case& c : cases) {
        const Arguments parsed = ParseArguments(c.args);
        std::string line;
        for (const auto& a : c.args)
            line += a + " ";
        SCOPED_TRACE(line);
        EXPECT_EQ(parsed.action, c.action);
        if (c.action == A::Usage) {
            EXPECT_FALSE(parsed.error.empty());
        }
        if (c.action != A::Run)
            continue;
        EXPECT_EQ(parsed.options.check, c.check);
        EXPECT_EQ(parsed.options.backup, c.backup);
        EXPECT_EQ(parsed.options.anyway, c.anyway);
        EXPECT_EQ(parsed.options.quiet, c.quiet);
        EXPECT_EQ(parsed.options.paths, c.paths);
    }
    EXPECT_EQ(ParseArguments({"fuer-mich", "x"}).options.direction, Direction::ToSingleCharacter);
}

// rueckgaengig's arguments and its lines.
TEST(CliArguments, UndoTable) {
    using A = Arguments::Action;
    struct Case {
        std::vector<std::string> args;
        A action;
        std::string run;
        bool check = false;
    };
    const Case cases[] = {
        {{"rueckgaengig", "k"}, A::Run, ""},
        {{"rückgängig", "--lauf", "08_12_2026_21_59_53", "k"}, A::Run, "08_12_2026_21_59_53"},
        {{"rueckgaengig", "--lauf=x y", "--pruefen", "k"}, A::Run, "x y", true},
        {{"rueckgaengig", "k", "--lauf"}, A::Usage, ""},
        {{"rueckgaengig", "--lauf=", "k"}, A::Usage, ""},
        {{"fuer-velmo", "--lauf", "x", "k"}, A::Usage, ""},
        {{"rueckgaengig", "--ohne-sicherung", "k"}, A::Usage, ""},
        {{"rueckgaengig", "--trotzdem", "k"}, A::Usage, ""},
        {{"rueckgaengig", "-"}, A::Usage, ""},
        {{"fuer-velmo", "--pruefen=ja", "k"}, A::Usage, ""},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const auto& a : c.args)
            line += a + " ";
        SCOPED_TRACE(line);
        const Arguments parsed = ParseArguments(c.args);
        EXPECT_EQ(parsed.action, c.action) << parsed.error;
        if (c.action != A::Run)
            continue;
        EXPECT_TRUE(parsed.options.undo);
        EXPECT_EQ(parsed.options.run, c.run);
        EXPECT_EQ(parsed.options.check, c.check);
        EXPECT_EQ(parsed.options.paths, std::vector<std::string>{"k"});
    }
    EXPECT_EQ(PutBackLine("a.lua", true), "a.lua: würde aus der Sicherung zurückgeholt");
    EXPECT_EQ(UndoSummaryLine({1, 2, 0}, false), "1 Datei zurückgeholt, 2 übersprungen, 0 Fehler");
    EXPECT_EQ(UndoSummaryLine({3, 0, 1}, true),
              "3 Dateien würden zurückgeholt, 0 übersprungen, 1 Fehler");
    EXPECT_EQ(UndoInterruptedLine({1, 0, 0}, 5, false),
              "abgebrochen: 1 von 5 Dateien zurückgeholt, die übrigen unverändert (0 Fehler)");
    EXPECT_EQ(RunLine("08_12_2026_21_59_53", 1), "08_12_2026_21_59_53: 1 Sicherung");
}

// The filter's input and output as strings, its spool a string that counts
// how often it was read.
class StringStreams final : public FilterStreams {
  public:
    explicit StringStreams(std::string input) : input_(std::move(input)) {}
    std::size_t Read(char* buffer, std::size_t room) override {
        const std::size_t n = input_.copy(buffer, room, at_);
        at_ += n;
        return n;
    }
    void Write(std::string_view bytes) override { output.append(bytes); }
    void Spool(std::string_view bytes) override { spool.append(bytes); }
    void RewindSpool() override { spoolAt_ = 0; }
    std::size_t ReadSpool(char* buffer, std::size_t room) override {
        const std::size_t n = spool.copy(buffer, room, spoolAt_);
        spoolAt_ += n;
        return n;
    }
    std::string output, spool;

  private:
    std::string input_;
    std::size_t at_ = 0, spoolAt_ = 0;
};

TEST(CliFilter, DecisionsTable) {
    struct Case {
        const char* name;
        std::string input;
        Direction direction;
        bool check, anyway;
        std::string output;
        int status;
        std::string notice; // the start of the one notice; empty: none
    };
    const std::string guarded = "Umlaute(\"\xE4\")";
    const std::string chunk = "\x1BLua\x54\0\xE4"s;
    const std::string guardLast = kSingle + kSingle + "-- umlaute";
    const std::string utf8 = "-- \xC4\x85\n\xE4\xB8\xAD";
    const std::string kept = "(Standardeingabe): 2 Zeichen geh\xC3\xB6ren";
    const Case cases[] = {
        {"forward", kSingle, Direction::ToTwoCharacterForm, false, false, kPairs, kDone, ""},
        {"back", kPairs, Direction::ToSingleCharacter, false, false, kSingle, kDone, ""},
        {"forward, --trotzdem", kSingle, Direction::ToTwoCharacterForm, false, true, kPairs, kDone,
         ""},
        {"back, --trotzdem", kPairs, Direction::ToSingleCharacter, false, true, kSingle, kDone, ""},
        {"nothing to do", "x = 1\n", Direction::ToTwoCharacterForm, true, false, "", kDone, ""},
        {"check finds work", kSingle, Direction::ToTwoCharacterForm, true, false, "", kWouldChange,
         ""},
        {"check finds work, --trotzdem", kSingle, Direction::ToTwoCharacterForm, true, true, "",
         kWouldChange, ""},
        {"guard word passes through", guarded, Direction::ToTwoCharacterForm, false, false, guarded,
         kDone, "(Standardeingabe): unver\xC3\xA4ndert durchgereicht, enth\xC3\xA4lt"},
        {"guard word last passes through", guardLast, Direction::ToTwoCharacterForm, false, false,
         guardLast, kDone, "(Standardeingabe): unver\xC3\xA4ndert durchgereicht, enth\xC3\xA4lt"},
        {"guard word, check", guardLast, Direction::ToTwoCharacterForm, true, false, "", kDone,
         "(Standardeingabe): unver\xC3\xA4ndert durchgereicht, enth\xC3\xA4lt"},
        {"guard word, nothing to change", "UMLAUTE \xC3\xA4", Direction::ToTwoCharacterForm, false,
         false, "UMLAUTE \xC3\xA4", kDone, ""},
        {"guard word with --trotzdem", guarded, Direction::ToTwoCharacterForm, false, true,
         UmlauteToTwoCharacterForm(guarded), kDone, ""},
        // A text that is UTF-8 throughout passes unchanged without a word; the
        // notice is for a text where both forms meet.
        {"UTF-8 throughout stays", utf8, Direction::ToTwoCharacterForm, false, false, utf8, kDone,
         ""},
        {"UTF-8 throughout stays, --trotzdem", utf8, Direction::ToTwoCharacterForm, false, true,
         utf8, kDone, ""},
        {"UTF-8 throughout stays, check", utf8, Direction::ToTwoCharacterForm, true, false, "",
         kDone, ""},
        {"UTF-8 beside an umlaut stays, with a notice", "-- \xE4\n" + utf8,
         Direction::ToTwoCharacterForm, false, false, "-- \xC3\xA4\n" + utf8, kDone, kept},
        {"UTF-8 beside an umlaut stays, with a notice, --trotzdem", "-- \xE4\n" + utf8,
         Direction::ToTwoCharacterForm, false, true, "-- \xC3\xA4\n" + utf8, kDone, kept},
        {"UTF-8 beside an umlaut, check", "-- \xE4\n" + utf8, Direction::ToTwoCharacterForm, true,
         false, "", kWouldChange, kept},
        {"compiled chunk passes through", chunk, Direction::ToTwoCharacterForm, false, true, chunk,
         kDone, "(Standardeingabe): unver\xC3\xA4ndert durchgereicht, kompiliertes"},
        {"compiled chunk passes through, spooled", chunk, Direction::ToTwoCharacterForm, false,
         false, chunk, kDone, "(Standardeingabe): unver\xC3\xA4ndert durchgereicht, kompiliertes"},
        {"UTF-16 passes through", "\xFF\xFEx\0\xE4\0"s, Direction::ToTwoCharacterForm, false, true,
         "\xFF\xFEx\0\xE4\0"s, kDone,
         "(Standardeingabe): unver\xC3\xA4ndert durchgereicht, in UTF-16"},
        {"empty", "", Direction::ToTwoCharacterForm, false, false, "", kDone, ""},
    };
    // As the program runs it, and with a few bytes at a time and in memory,
    // so that most of the input goes through the spool.
    const FilterSizes tiny{4, 5, 8};
    for (const FilterSizes& sizes : {FilterSizes{}, tiny}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (&sizes == &tiny ? ", tiny sizes" : ""));
            Options options = Make(c.direction, {"-"});
            options.check = c.check;
            options.anyway = c.anyway;
            Recorder recorder;
            StringStreams streams(c.input);
            EXPECT_EQ(RunFilter(streams, options, recorder, sizes), c.status);
            EXPECT_EQ(streams.output, c.output);
            if (c.notice.empty()) {
                EXPECT_EQ(recorder.notices.size(), 0u);
            } else {
                ASSERT_EQ(recorder.notices.size(), 1u);
                EXPECT_EQ(recorder.notices[0].rfind(c.notice, 0), 0u) << recorder.notices[0];
            }
            // Only what must be seen whole before it goes out waits, and in
            // memory first.
            const bool spools = !c.anyway && !c.check && c.input.size() > sizes.inMemory;
            EXPECT_EQ(streams.spool.size(), spools ? c.input.size() - sizes.inMemory : 0u);
        }
    }
}

// Jobs on several threads, taken in order: every job is taken once and in
// order, none starts more than `ahead` places beyond the one being taken, and
// after a stop or a failure exactly the jobs started meanwhile go to left, in
// order. Jobs of varied length, so that later ones often finish first.
TEST(CliPool, TakesInOrderAndHandsBackWhatRanAhead) {
    struct Case {
        const char* name;
        std::size_t threads, count, ahead;
        std::optional<std::size_t> stopAt, failAt; // take(i) says stop; work(i) throws
    };
    const Case cases[] = {
        {"one thread", 1, 50, 8, std::nullopt, std::nullopt},
        {"two threads", 2, 200, 8, std::nullopt, std::nullopt},
        {"more threads than jobs", 4, 3, 4, std::nullopt, std::nullopt},
        {"no jobs", 2, 0, 8, std::nullopt, std::nullopt},
        {"ahead below the threads", 3, 40, 1, std::nullopt, std::nullopt},
        {"stop, one thread", 1, 50, 8, 20, std::nullopt},
        {"stop, two threads", 2, 200, 8, 20, std::nullopt},
        {"stop at the last", 2, 30, 8, 29, std::nullopt},
        {"failing job, one thread", 1, 50, 8, std::nullopt, 17},
        {"failing job, two threads", 2, 200, 8, std::nullopt, 17},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t ahead = std::max(c.ahead, c.threads);
        std::vector<std::atomic<int>> worked(c.count);
        std::atomic<std::size_t> takenSoFar{0};
        std::atomic<bool> tooFarAhead{false};
        std::vector<std::size_t> taken, left;
        std::vector<std::size_t> slots(ahead); // a result per job, in its slot
        bool threw = false;
        try {
            RunInOrder(
                c.threads, c.count, c.ahead,
                [&](std::size_t i) {
                    if (i >= takenSoFar + ahead)
                        tooFarAhead = true;
                    std::this_thread::sleep_for(std::chrono::microseconds((i * 7919) % 300));
                    ++worked[i];
                    if (c.failAt == i)
                        throw std::runtime_error("job failed");
                    slots[i % ahead] = i;
                },
                [&](std::size_t i) {
                    EXPECT_EQ(slots[i % ahead], i) << "a later job wrote the slot";
                    taken.push_back(i);
                    ++takenSoFar;
                    return c.stopAt != i;
                },
                [&](std::size_t i) { left.push_back(i); });
        } catch (const std::runtime_error&) {
            threw = true;
        }
        EXPECT_EQ(threw, c.failAt.has_value());
        EXPECT_FALSE(tooFarAhead);
        const std::size_t end = c.stopAt ? *c.stopAt + 1 : c.failAt ? *c.failAt : c.count;
        std::vector<std::size_t> expected(end);
        for (std::size_t i = 0; i < end; ++i)
            expected[i] = i;
        EXPECT_EQ(taken, expected);
        // Left: every job that ran after the last one taken (the failed one
        // not), and nothing else.
        std::vector<std::size_t> ran;
        for (std::size_t i = end; i < c.count; ++i) {
            EXPECT_LE(worked[i].load(), 1);
            if (worked[i] && c.failAt != i)
                ran.push_back(i);
        }
        EXPECT_EQ(left, ran);
        for (std::size_t i = 0; i < end; ++i)
            EXPECT_EQ(worked[i].load(), 1) << i;
        if (c.threads == 1) {
            EXPECT_TRUE(left.empty()) << "one thread runs nothing ahead";
        }
    }
}

// A map folder with every kind of file the batch meets.
struct Map {
    FakePlatform fake;
    FakeDirectories dirs{fake};
    Map() {
        fake.AddFile("C:\\karte\\a.lua", kSingle);
        fake.AddFile("C:\\karte\\sub\\b.LUA", kSingle + "x");
        fake.AddFile("C:\\karte\\sub\\fertig.lua", kPairs);         // nothing to do
        fake.AddFile("C:\\karte\\notiz.txt", kSingle);              // not a script
        fake.AddFile("C:\\karte\\.git\\c.lua", kSingle);            // hidden folder
        fake.AddFile("C:\\karte\\bytecode.lua", "\x1BLua\xE4"s);    // compiled chunk
        fake.AddFile("C:\\karte\\guard.lua", "-- UMLAUTE\r\n\xE4"); // the warning word
        fake.AddFile("C:\\karte\\link.lua", kSingle);
        dirs.links.insert("C:\\karte\\link.lua");
        fake.AddFile("C:\\karte\\$RECYCLE.BIN\\d.lua", kSingle); // hidden by its attribute
        dirs.hidden.insert("C:\\karte\\$RECYCLE.BIN");
    }
    const std::string& Bytes(const std::string& path) { return fake.FindFile(path)->bytes; }
};

TEST(CliBatch, FolderConversionDecidesEachFile) {
    Map m;
    Recorder recorder;
    // The folder, and one of its scripts once more in another letter case.
    EXPECT_EQ(RunBatch(m.fake, m.dirs,
                       Make(Direction::ToTwoCharacterForm, {"C:\\karte", "c:\\KARTE\\A.lua"}),
                       recorder),
              kDone);
    EXPECT_EQ(m.Bytes("C:\\karte\\a.lua"), kPairs);
    EXPECT_EQ(m.Bytes("C:\\karte\\sub\\b.LUA"), kPairs + "x");
    for (const char* untouched : {"C:\\karte\\notiz.txt", "C:\\karte\\.git\\c.lua",
                                  "C:\\karte\\link.lua", "C:\\karte\\$RECYCLE.BIN\\d.lua"})
        EXPECT_EQ(m.Bytes(untouched), kSingle) << untouched;
    EXPECT_EQ(m.Bytes("C:\\karte\\bytecode.lua"), "\x1BLua\xE4"s);
    EXPECT_EQ(m.Bytes("C:\\karte\\guard.lua"), "-- UMLAUTE\r\n\xE4");
    // Two backups, each beside its script with the old bytes; none for the file without work.
    const auto backups = BackupsIn(m.fake);
    ASSERT_EQ(backups.size(), 2u);
    EXPECT_EQ(backups[0], "C:\\karte\\a_lua_08_12_2026_21_59_53.bak");
    EXPECT_EQ(m.Bytes(backups[0]), kSingle);
    EXPECT_EQ(m.Bytes(backups[1]), kSingle + "x");
    for (const auto& call : m.fake.calls)
        EXPECT_EQ(call.find("fertig.lua | "), std::string::npos) << call;
    EXPECT_EQ(recorder.out.size(), 2u) << ::testing::PrintToString(recorder.out);
    EXPECT_EQ(recorder.out[0], "C:\\karte\\a.lua: 4 Zeichen umgewandelt");
    EXPECT_EQ(recorder.notices.size(), 3u); // link, chunk, warning word
    EXPECT_EQ(recorder.summary, "2 Dateien umgewandelt, 1 unverändert, 3 übersprungen, 0 Fehler");

    // --trotzdem takes the file with the warning word too; all else is done already.
    Options anyway = Make(Direction::ToTwoCharacterForm, {"C:\\karte"});
    anyway.anyway = true;
    Recorder again;
    EXPECT_EQ(RunBatch(m.fake, m.dirs, anyway, again), kDone);
    EXPECT_EQ(m.Bytes("C:\\karte\\guard.lua"), "-- UMLAUTE\r\n\xC3\xA4");
    EXPECT_EQ(again.summary, "1 Datei umgewandelt, 3 unverändert, 2 übersprungen, 0 Fehler");
}

// Scripts too big to hold whole (here: more than 4 bytes) are read, decided on
// and written a piece at a time, a converted one in a single pass: the run
// tells the same, leaves the same files and backups and ends the same as with
// every script held whole. Among them read-only ones: one that converts is
// an error, one of a refused kind is skipped as refused.
TEST(CliBatch, ScriptsInPiecesGoAsScriptsHeldWhole) {
    const auto world = [](Map& m) {
        m.fake.AddFile("C:\\karte\\nurlesen.lua", kSingle, file_attr::ReadOnly);
        m.fake.AddFile("C:\\karte\\nurlesen-chunk.lua", "\x1BLua\x54\xE4\xE4"s,
                       file_attr::ReadOnly);
        m.fake.AddFile("C:\\karte\\utf8.lua", "-- \xE4 \xC4\x85 \xE4\xB8\xAD\r\n");
        m.fake.AddFile("C:\\karte\\ende.lua", kSingle + "-- umlaute");
    };
    for (Direction direction : {Direction::ToTwoCharacterForm, Direction::ToSingleCharacter})
        for (bool check : {false, true}) {
            SCOPED_TRACE(std::string(direction == Direction::ToTwoCharacterForm ? "fuer-velmo"
                                                                                : "fuer-mich") +
                         (check ? " --pruefen" : ""));
            Options options = Make(direction, {"C:\\karte"});
            options.check = check;
            Map whole, pieces;
            world(whole);
            world(pieces);
            Recorder a, b;
            EXPECT_EQ(RunBatch(whole.fake, whole.dirs, options, a),
                      RunBatch(pieces.fake, pieces.dirs, options, b, {4, 3}));
            EXPECT_EQ(a.out, b.out);
            EXPECT_EQ(a.notices, b.notices);
            EXPECT_EQ(a.errors, b.errors);
            EXPECT_EQ(a.summary, b.summary);
            ASSERT_EQ(whole.fake.files.size(), pieces.fake.files.size());
            for (const auto& [key, file] : whole.fake.files) {
                ASSERT_TRUE(pieces.fake.files.count(key)) << key;
                EXPECT_EQ(pieces.fake.files.at(key).bytes, file.bytes) << key;
            }
        }
}

TEST(CliBatch, CheckChangesNothingAndSaysWhetherAnythingWould) {
    Map m;
    Options check = Make(Direction::ToTwoCharacterForm, {"C:\\karte"});
    check.check = true;
    Recorder recorder;
    const auto before = m.fake.files;
    EXPECT_EQ(RunBatch(m.fake, m.dirs, check, recorder), kWouldChange);
    EXPECT_EQ(recorder.out.size(), 2u);
    EXPECT_EQ(m.fake.files.size(), before.size());
    for (const auto& [key, file] : before)
        EXPECT_EQ(m.fake.files.at(key).bytes, file.bytes) << key;

    Options back = Make(Direction::ToSingleCharacter, {"C:\\karte\\notiz.txt"});
    back.check = true;
    Recorder none;
    EXPECT_EQ(RunBatch(m.fake, m.dirs, back, none), kDone) << "a file named explicitly is taken";
    EXPECT_TRUE(none.out.empty());
}

TEST(CliBatch, ErrorsEndWithStatusTwoAfterTheOthersAreDone) {
    Map m;
    m.fake.AddFile("C:\\karte\\nurlesen.lua", kSingle, file_attr::ReadOnly);
    m.fake.AddFile("C:\\karte\\offen.lua", kSingle);
    m.fake.files["c:\\karte\\offen.lua"].locked = true;
    Recorder recorder;
    EXPECT_EQ(RunBatch(m.fake, m.dirs,
                       Make(Direction::ToTwoCharacterForm, {"C:\\karte", "C:\\fehlt"}), recorder),
              kFailed);
    EXPECT_EQ(m.Bytes("C:\\karte\\a.lua"), kPairs);
    EXPECT_EQ(m.Bytes("C:\\karte\\nurlesen.lua"), kSingle);
    EXPECT_EQ(m.Bytes("C:\\karte\\offen.lua"), kSingle);
    ASSERT_EQ(recorder.errors.size(), 3u);
#ifdef _WIN32
    EXPECT_EQ(recorder.errors[0], "C:\\fehlt: Fehler 2: Systemfehler 2");
#else
    EXPECT_EQ(recorder.errors[0], "C:\\fehlt: Systemfehler 2"); // no Windows numbers here
#endif
    EXPECT_EQ(recorder.summary, "2 Dateien umgewandelt, 1 unverändert, 3 übersprungen, 3 Fehler");
}

// A backup that shares the script's file must be durable before the script is
// replaced. When one cannot be flushed (another program holds the script open),
// only its script fails; the rest of the group is done.
TEST(CliBatch, AnUnflushableBackupHoldsBackOnlyItsScript) {
    Map m;
    m.fake.unflushable.insert("c:\\karte\\a_lua_08_12_2026_21_59_53.bak");
    Recorder recorder;
    EXPECT_EQ(
        RunBatch(m.fake, m.dirs, Make(Direction::ToTwoCharacterForm, {"C:\\karte"}), recorder),
        kFailed);
    EXPECT_EQ(m.Bytes("C:\\karte\\a.lua"), kSingle);
    EXPECT_EQ(m.Bytes("C:\\karte\\sub\\b.LUA"), kPairs + "x");
    ASSERT_EQ(recorder.errors.size(), 1u);
    EXPECT_EQ(recorder.errors[0].rfind("C:\\karte\\a.lua: ", 0), 0u) << recorder.errors[0];
    EXPECT_NE(recorder.errors[0].find("32"), std::string::npos) << recorder.errors[0];
    for (const auto& [key, name] : m.fake.displayNames) {
        EXPECT_EQ(name.find("velmo-tmp"), std::string::npos) << "left behind: " << name;
        // a.lua kept its old bytes: the backup made for it went again.
        EXPECT_EQ(name.find("a_lua_"), std::string::npos) << "left behind: " << name;
    }
}

// The check answers as the conversion would, with and without --leise (which
// lets it stop looking at a script once the answer is known) and --trotzdem:
// the same exit status, the same tally, and without --leise the same lines.
// The answer of most scripts is known at their first byte; these are known
// only at their last.
TEST(CliBatch, CheckAnswersAsTheConversionWould) {
    std::string filler;
    while (filler.size() < (100u << 10))
        filler += "x = 1\r\n";
    std::string chinese;
    for (int i = 0; i < 1000; ++i)
        chinese += "\xE4\xB8\xAD";
    struct Case {
        const char* name;
        std::string bytes;
        Direction direction;
    };
    const Case cases[] = {
        {"umlaut first, guard word last", "\xE4" + filler + "-- UMLAUTE",
         Direction::ToTwoCharacterForm},
        {"NKo first, Windows-1252 last", "\xDF\x85" + filler + "\xF6",
         Direction::ToTwoCharacterForm},
        {"NKo in UTF-8", "h = \"\xDF\x85\"" + filler, Direction::ToTwoCharacterForm},
        {"Chinese, an umlaut last", chinese + filler + "\xE4", Direction::ToTwoCharacterForm},
        {"every byte an umlaut", std::string(70000, '\xFC'), Direction::ToTwoCharacterForm},
        {"back", kPairs + filler + kPairs, Direction::ToSingleCharacter},
        {"back, a lone lead byte last", filler + "\xC3", Direction::ToSingleCharacter},
        {"guard word, nothing to change", "UMLAUTE \xC3\xA4", Direction::ToTwoCharacterForm},
        {"compiled chunk", "\x1BLua\x54\xE4"s, Direction::ToTwoCharacterForm},
        {"empty", "", Direction::ToTwoCharacterForm},
    };
    const std::string path = "C:\\karte\\s.lua";
    const auto run = [&](const Case& c, bool check, bool anyway, bool quiet, Recorder& recorder) {
        FakePlatform fake;
        FakeDirectories dirs(fake);
        fake.AddFile(path, c.bytes);
        Options options = Make(c.direction, {"C:\\karte"});
        options.check = check;
        options.anyway = anyway;
        options.quiet = quiet;
        const int status = RunBatch(fake, dirs, options, recorder);
        if (check) {
            EXPECT_EQ(fake.FindFile(path)->bytes, c.bytes) << "a check writes nothing";
        }
        return status;
    };
    for (const Case& c : cases) {
        for (const bool anyway : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (anyway ? ", --trotzdem" : ""));
            Recorder converted;
            ASSERT_EQ(run(c, false, anyway, false, converted), kDone);
            const bool changes = !converted.out.empty();
            const std::size_t count = DecideScript(c.bytes, c.direction).converted;
            const std::size_t skipped = static_cast<std::size_t>(std::count_if(
                converted.notices.begin(), converted.notices.end(), [](const std::string& line) {
                    return line.find(": übersprungen, ") != std::string::npos;
                }));
            const std::string summary =
                SummaryLine({changes ? 1u : 0u, changes || skipped ? 0u : 1u, skipped, 0}, true);
            for (const bool quiet : {false, true}) {
                SCOPED_TRACE(quiet ? "--leise" : "");
                Recorder checked;
                EXPECT_EQ(run(c, true, anyway, quiet, checked), changes ? kWouldChange : kDone);
                EXPECT_EQ(checked.summary, summary);
                EXPECT_TRUE(checked.errors.empty());
                if (quiet) {
                    // Nothing of what --leise does not show, but the reasons to skip.
                    EXPECT_TRUE(checked.out.empty());
                    EXPECT_EQ(checked.notices.size(), skipped);
                    continue;
                }
                EXPECT_EQ(checked.notices, converted.notices);
                if (changes) {
                    EXPECT_EQ(converted.out, std::vector{ChangedLine(path, count, false)});
                    EXPECT_EQ(checked.out, std::vector{ChangedLine(path, count, true)});
                } else {
                    EXPECT_TRUE(checked.out.empty());
                }
            }
        }
    }
}

// Every file-service call of a batch failing in turn: each script keeps its old
// or gets its new bytes, each backup is complete or absent, no temporary file
// stays, the failure is reported, and the exit status says so.
TEST(CliBatch, EachFileServiceCallFailingInTurn) {
    std::size_t failures = 0;
    for (const bool backup : {true, false}) {
        SCOPED_TRACE(backup ? "with backups" : "without backups");
        auto run = [&](std::optional<std::size_t> failing, Map& m, Recorder& recorder) {
            m.fake.calls.clear();
            m.fake.failCallIndex = failing;
            Options options = Make(Direction::ToTwoCharacterForm, {"C:\\karte"});
            options.backup = backup;
            return RunBatch(m.fake, m.dirs, options, recorder);
        };
        Map clean;
        Recorder cleanRecorder;
        ASSERT_EQ(run(std::nullopt, clean, cleanRecorder), kDone);
        const std::vector<std::string> steps = clean.fake.calls;
        failures += steps.size();
        for (std::size_t k = 0; k < steps.size(); ++k) {
            SCOPED_TRACE("failing call " + std::to_string(k) + ": " + steps[k]);
            Map m;
            Recorder recorder;
            const int status = run(k, m, recorder);
            // An existence test that fails answers "no", a sweep for leftovers
            // "in use"; a link that fails is replaced by a copy: none is an error.
            // The flush of a whole group that fails is retried script by script.
            // The clock read once for the batch's stamp is asked again by each
            // backup where it failed.
            const bool groupFlush = steps[k].rfind("FlushFiles", 0) == 0 &&
                                    steps[k].find(".velmo-tmp") != steps[k].rfind(".velmo-tmp");
            const bool answers =
                steps[k].rfind("FileExists", 0) == 0 || steps[k].rfind("RemoveLeftover", 0) == 0 ||
                steps[k].rfind("LinkFile", 0) == 0 || steps[k].rfind("Now", 0) == 0 || groupFlush;
            if (!answers) {
                EXPECT_EQ(status, kFailed);
                EXPECT_FALSE(recorder.errors.empty());
            }
            for (const auto& [key, name] : m.fake.displayNames) {
                const std::string& bytes = m.Bytes(name);
                EXPECT_EQ(name.find("velmo-tmp"), std::string::npos) << "left behind: " << name;
                if (name.ends_with(".bak")) {
                    EXPECT_TRUE(bytes == kSingle || bytes == kSingle + "x") << name;
                }
                if (name == "C:\\karte\\a.lua") {
                    EXPECT_TRUE(bytes == kSingle || bytes == kPairs)
                        << ::testing::PrintToString(bytes);
                }
            }
            if (!backup) {
                EXPECT_TRUE(BackupsIn(m.fake).empty());
            }
        }
    }
    std::cout << "[ FAULTS   ] batch: " << failures << " file-service calls failing in turn\n";
}

} // namespace
} // namespace velmo::cli
