// Many scripts from the window, in its portable part: which actions become a
// batch (several files chosen, a drop on a conversion button) and with what
// settings, and the words of the guard-word question and of the summary, the
// summary made from what the real engine tells about real files.
#include "app/BatchSummary.h"
#include "app/VelmoStarter.h"
#include "platform/FakePlatform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#ifndef _WIN32
#include "platform/PosixFiles.h"

#include <cstdlib>
#include <fstream>
#include <unistd.h>
#endif

namespace velmo {
namespace {

class RecordingRunner final : public BatchRunner {
  public:
    void RunBatch(const BatchOrder& order) override { orders.push_back(order); }
    std::vector<BatchOrder> orders;
};

struct Window {
    FakePlatform fake;
    VelmoStarter starter{fake};
    RecordingRunner runner;
    Window() { starter.Batches = &runner; }
};

TEST(WindowBatch, SeveralChosenFilesOrADropOnAConversionButtonBecomeOneBatch) {
    struct Case {
        const char* what;
        bool drop;
        ControlId control;
        std::vector<std::string> paths;
        bool backup, message;
        bool batch; // else: nothing, or the one-script conversion
        Direction direction;
    };
    const std::vector<std::string> three = {"C:\\stapel\\eins.lua", "C:\\stapel\\zwei.lua",
                                            "C:\\stapel\\drei.lua"};
    const Case cases[] = {
        {"three chosen, Velmo", false, UmlauteWeg, three, true, true, true,
         Direction::ToTwoCharacterForm},
        {"three chosen, mich, boxes off", false, UmlauteZurueck, three, false, false, true,
         Direction::ToSingleCharacter},
        {"a folder dropped on Velmo",
         true,
         UmlauteWeg,
         {"C:\\karten"},
         true,
         false,
         true,
         Direction::ToTwoCharacterForm},
        {"one file dropped on mich",
         true,
         UmlauteZurueck,
         {"C:\\a.lua"},
         false,
         true,
         true,
         Direction::ToSingleCharacter},
        {"dropped on Notepad",
         true,
         Notepad,
         {"C:\\karten"},
         true,
         true,
         false,
         Direction::ToTwoCharacterForm},
        {"one file chosen",
         false,
         UmlauteWeg,
         {"C:\\a.lua"},
         true,
         true,
         false,
         Direction::ToTwoCharacterForm},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Window w;
        w.starter[Sicherung].value = c.backup ? 1 : 0;
        w.starter[Meldung].value = c.message ? 1 : 0;
        if (c.drop) {
            EXPECT_EQ(w.starter.Drop(c.control, c.paths), c.batch);
        } else {
            std::string answer;
            for (const std::string& path : c.paths)
                answer += (answer.empty() ? "" : "\n") + path;
            w.fake.dialogAnswers = {answer};
            w.starter.Click(c.control);
            ASSERT_EQ(w.fake.dialogsShown.size(), 1u);
            EXPECT_TRUE(w.fake.dialogsShown[0].MultiSelect);
            EXPECT_EQ(w.fake.dialogsShown[0].Filter, "Lua-Datei (LUA)|*.lua");
        }
        ASSERT_EQ(w.runner.orders.size(), c.batch ? 1u : 0u);
        if (!c.batch)
            continue;
        const BatchOrder& order = w.runner.orders[0];
        EXPECT_EQ(order.paths, c.paths);
        EXPECT_EQ(order.direction, c.direction);
        EXPECT_EQ(order.backup, c.backup);
        EXPECT_EQ(order.reportDone, c.message);
        EXPECT_TRUE(w.fake.boxes.empty()); // the batch says what it has to say
    }
}

TEST(WindowBatch, WithoutABatchRunnerTheDialogChoosesOneFile) {
    FakePlatform fake;
    VelmoStarter starter(fake);
    fake.dialogAnswers = {"C:\\a.lua\nC:\\b.lua"};
    starter.Click(UmlauteWeg);
    ASSERT_EQ(fake.dialogsShown.size(), 1u);
    EXPECT_FALSE(fake.dialogsShown[0].MultiSelect);
}

// ---- the summary, from what the engine tells about files on disk (the Windows
// files' side is the end-to-end tests' under Wine)
#ifndef _WIN32

class Folder {
  public:
    Folder() {
        char pattern[] = "/tmp/velmo-window-batch-XXXXXX";
        const char* made = mkdtemp(pattern);
        EXPECT_NE(made, nullptr);
        path_ = made ? made : "";
    }
    ~Folder() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    std::string Write(const std::string& name, const std::string& bytes) const {
        const std::string at = path_ + "/" + name;
        std::ofstream(at, std::ios::binary) << bytes;
        return at;
    }
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

struct Answering final : BatchRecorder {
    bool answer = false;
    std::vector<std::vector<std::string>> asked;
    bool ConvertGuarded(const std::vector<std::string>& scripts) override {
        asked.push_back(scripts);
        return answer;
    }
};

TEST(WindowBatch, TheSummaryCountsWhatTheEngineDidAndNamesWhy) {
    Folder dir;
    dir.Write("a.lua", "-- Gr\xFC\xDF"
                       "e\n");
    dir.Write("b.lua", "-- nichts\n");
    const std::string guarded = dir.Write("c.lua", "-- \xE4 UMLAUTE\n");
    const std::string chunk = dir.Write("d.lua", "\x1BLua\x54\x00\xE4");
    const std::string utf8 = dir.Write("e.lua", "-- \xC4\x85 und \xE4\n");
    dir.Write("f.txt", "\xE4");
    PosixFiles files;
    batch::BatchRequest request;
    request.paths = {dir.Path()};
    request.guardWord = batch::GuardWord::AskOnce;
    request.backup = false;

    for (bool yes : {false, true}) {
        SCOPED_TRACE(yes);
        Answering events;
        events.answer = yes;
        const batch::BatchResult result = batch::RunBatch(files, files, request, events);
        ASSERT_EQ(events.asked.size(), 1u);
        EXPECT_EQ(events.asked[0], std::vector<std::string>{guarded});
        const SummaryText summary = Summarize(events, result.scripts, result.stopped);
        EXPECT_EQ(summary.headline, "Fertig");
        EXPECT_FALSE(summary.alwaysShown);
        if (!yes) {
            // a.lua and e.lua converted; b.lua unchanged; c.lua (guard word)
            // and d.lua (compiled) skipped.
            EXPECT_EQ(summary.counts.substr(0, summary.counts.find("\n\n")),
                      "2 Skripte umgewandelt\n1 unver\xC3\xA4ndert (nichts umzuwandeln)\n"
                      "2 \xC3\xBC"
                      "bersprungen");
            EXPECT_NE(summary.details.find(guarded + " \xE2\x80\x93 enth\xC3\xA4lt das Wort "
                                                     "\xE2\x80\x9EUMLAUTE\xE2\x80\x9C"),
                      std::string::npos)
                << summary.details;
            EXPECT_NE(summary.details.find(chunk + " \xE2\x80\x93 kompiliertes Lua-Skript"),
                      std::string::npos)
                << summary.details;
            EXPECT_NE(
                summary.counts.find("In 1 Skript blieben Zeichen in UTF-8 stehen:\n   " + utf8),
                std::string::npos)
                << summary.counts;
        } else {
            // The second run converts the guarded one the first left; the
            // others are done by now.
            EXPECT_EQ(summary.counts.substr(0, summary.counts.find('\n')), "1 Skript umgewandelt");
        }
    }
}
#endif

TEST(WindowBatch, TheHeadlineSaysFailuresStopsAndEmptyBatchesAndThoseAreAlwaysShown) {
    struct Case {
        std::size_t found;
        bool stopped;
        bool failure;
        const char* headline;
        bool alwaysShown;
    };
    const Case cases[] = {
        {3, false, false, "Fertig", false},
        {3, false, true, "Fertig, mit Fehlern", true},
        {3, true, false, "Abgebrochen", true},
        {0, false, false, "Keine Lua-Skripte gefunden", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.headline);
        BatchRecorder record;
        if (c.failure)
            record.Failed("C:\\a.lua", PlatformError(5, "Zugriff verweigert.", "C:\\a.lua"));
        const SummaryText summary = Summarize(record, c.found, c.stopped);
        EXPECT_EQ(summary.headline, c.headline);
        EXPECT_EQ(summary.alwaysShown, c.alwaysShown);
        EXPECT_EQ(summary.error, c.failure);
        if (c.failure) {
            EXPECT_EQ(summary.details,
                      "Fehlgeschlagen:\nC:\\a.lua \xE2\x80\x93 Fehler 5: Zugriff verweigert.");
        }
        EXPECT_EQ(summary.counts.find("Die \xC3\xBC"
                                      "brigen Skripte sind, wie sie waren.") != std::string::npos,
                  c.stopped);
    }
}

TEST(WindowBatch, TheGuardQuestionSaysHowManyAndNamesTheFirstFew) {
    std::vector<std::string> scripts;
    for (int i = 1; i <= 10; ++i)
        scripts.push_back("C:\\karte\\s" + std::to_string(i) + ".lua");
    const std::string many = GuardQuestion(scripts);
    EXPECT_EQ(many.rfind("10 Skripte enthalten das Wort \xE2\x80\x9EUMLAUTE\xE2\x80\x9C:\n", 0), 0u)
        << many;
    EXPECT_NE(many.find("   C:\\karte\\s8.lua\n   \xE2\x80\xA6 und 2 weitere\n"), std::string::npos)
        << many;
    EXPECT_EQ(many.find("s9.lua"), std::string::npos);
    EXPECT_NE(many.find("\xE2\x80\x9ENein\xE2\x80\x9C l\xC3\xA4sst sie alle, wie sie sind."),
              std::string::npos);
    const std::string one = GuardQuestion({"C:\\a.lua"});
    EXPECT_EQ(one.rfind("1 Skript enth\xC3\xA4lt das Wort", 0), 0u) << one;
}

// The progress window's count line and bar: what is converted and what saved
// in words, and a bar that moves by half a script for each step of the two.
TEST(WindowBatch, TheProgressSaysWhatIsConvertedAndWhatIsSaved) {
    struct Case {
        batch::BatchProgress where;
        const char* count;
        std::size_t position, range;
    };
    const Case cases[] = {
        {{3000, 224, 0, 0, ""}, "224 von 3000 Skripten umgewandelt", 448, 6000},
        {{3000, 1100, 1050, 0, ""},
         "1100 von 3000 Skripten umgewandelt, 0 von 1050 gespeichert",
         1150,
         6000},
        {{3000, 3000, 2000, 1024, "C:\\karte\\s_294.lua"},
         "3000 von 3000 Skripten umgewandelt, 1024 von 2000 gespeichert",
         5024,
         6000},
        {{1, 1, 1, 1, ""}, "1 von 1 Skript umgewandelt, 1 von 1 gespeichert", 2, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        const ProgressView view = ViewOf(c.where);
        EXPECT_EQ(view.count, c.count);
        EXPECT_EQ(view.position, c.position);
        EXPECT_EQ(view.range, c.range);
    }

    // Over a whole batch of the engine: the bar never goes back, moves while
    // the last round is saved, and ends full.
    struct Bar final : BatchRecorder {
        std::vector<ProgressView> views;
        void Advanced(const batch::BatchProgress& where) override {
            views.push_back(ViewOf(where));
        }
    };
    FakePlatform fake;
    FakeDirectories dirs(fake);
    for (int i = 0; i < 1200; ++i)
        fake.AddFile("C:\\karte\\s" + std::to_string(1000 + i) + ".lua",
                     i % 3 ? "-- \xE4\r\n" : "-- nichts\r\n");
    batch::BatchRequest request;
    request.paths = {"C:\\karte"};
    Bar bar;
    batch::RunBatch(fake, dirs, request, bar);
    ASSERT_FALSE(bar.views.empty());
    std::size_t atLastDecided = 0;
    for (std::size_t i = 1; i < bar.views.size(); ++i) {
        EXPECT_GE(bar.views[i].position, bar.views[i - 1].position) << i;
        if (bar.views[i].count.rfind("1200 von 1200", 0) == 0)
            ++atLastDecided;
    }
    EXPECT_GE(atLastDecided, 2u); // the last round's save told as it goes
    EXPECT_EQ(bar.views.back().position, bar.views.back().range);
    EXPECT_EQ(bar.views.back().count,
              "1200 von 1200 Skripten umgewandelt, 800 von 800 gespeichert");
}

// After "Abbrechen" the summary says what was saved before it and lists the
// converted scripts; lists of thousands keep the details within the lines the
// screen has, the first names shown and the rest counted.
TEST(WindowBatch, AfterAStopTheSummaryListsWhatWasSavedWithinTheScreen) {
    struct Case {
        const char* name;
        std::size_t converted, failed;
        bool stopped;
        std::size_t lines;
    };
    const Case cases[] = {
        {"stopped, few", 3, 0, true, kEveryDetail},
        {"stopped, thousands", 3000, 5, true, 40},
        {"stopped, thousands, and thousands failed", 3000, 1500, true, 40},
        {"done, thousands failed", 0, 1500, false, 30},
        {"done, nothing listed", 5, 0, false, 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BatchRecorder record;
        for (std::size_t i = 0; i < c.converted; ++i)
            record.Converted("C:\\karte\\s" + std::to_string(i) + ".lua", 1);
        for (std::size_t i = 0; i < c.failed; ++i)
            record.Failed("C:\\karte\\f" + std::to_string(i) + ".lua",
                          PlatformError(5, "Zugriff verweigert.", ""));
        const SummaryText summary =
            Summarize(record, c.converted + c.failed + 10, c.stopped, {c.lines, 40});
        if (c.stopped) {
            EXPECT_EQ(summary.counts.rfind("Bis zum Abbrechen:\n" + std::to_string(c.converted) +
                                               (c.converted == 1 ? " Skript" : " Skripte") +
                                               " umgewandelt und gespeichert\n",
                                           0),
                      0u)
                << summary.counts;
        } else {
            EXPECT_EQ(summary.counts.find("Bis zum Abbrechen"), std::string::npos);
        }
        const std::string& details = summary.details;
        // Lines as the box shows them, a long one wrapped after 40 characters.
        std::size_t lines = 0;
        for (std::size_t at = 0; at <= details.size();) {
            const std::size_t end = std::min(details.find('\n', at), details.size());
            lines += std::max<std::size_t>(1, (end - at + 39) / 40);
            at = end + 1;
        }
        if (c.lines != kEveryDetail) {
            EXPECT_LE(lines, c.lines) << details;
        }
        // Every script of a list is named or counted among the rest.
        const auto section = [&](const std::string& title) -> std::string {
            const std::size_t at = details.find(title + "\n");
            if (at == std::string::npos)
                return {};
            const std::size_t end = details.find("\n\n", at);
            return details.substr(at, end == std::string::npos ? std::string::npos : end - at);
        };
        const auto namedAndCounted = [](const std::string& text, const std::string& stem) {
            std::size_t named = 0, rest = 0;
            for (std::size_t at = text.find(stem); at != std::string::npos;
                 at = text.find(stem, at + 1))
                ++named;
            const std::size_t more = text.find("\xE2\x80\xA6 und ");
            if (more != std::string::npos)
                rest = std::stoul(text.substr(more + 8));
            return named + rest;
        };
        const std::string converted = section("Umgewandelt und gespeichert:");
        EXPECT_EQ(namedAndCounted(converted, "C:\\karte\\s"), c.stopped ? c.converted : 0u);
        if (c.stopped) {
            EXPECT_NE(converted.find("\nC:\\karte\\s0.lua\n"), std::string::npos) << converted;
        }
        EXPECT_EQ(namedAndCounted(section("Fehlgeschlagen:"), "C:\\karte\\f"), c.failed);
    }
}

} // namespace
} // namespace velmo
