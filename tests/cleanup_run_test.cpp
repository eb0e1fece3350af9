#include "fake_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

using fake::Op;
using Lines = std::vector<std::string>;

namespace {

const char* const Tessamoor = R"(SOFTWARE\Tessamoor)";
const char* const Apis = R"(SOFTWARE\Tessamoor\Pellinor\APIs)";
const char* const Services = R"(SYSTEM\CurrentControlSet\Services)";
const char* const SystemLog = R"(SYSTEM\CurrentControlSet\Services\EventLog\System)";

const char* const Cleaned = "The registry has been cleaned.\nPlease restart your system.";
const char* const NotCleaned = "The registry could not be cleaned completely.\n"
                               "Please run this program again as an administrator.";

// The fifteen listed keys, in the order they must be tried.
const Lines Listed = {
    R"(SOFTWARE\Tessamoor\Brisolde)",
    R"(SOFTWARE\Tessamoor\Corvanth)",
    R"(SOFTWARE\Tessamoor\Pellinor\APIs\1)",
    R"(SYSTEM\CurrentControlSet\Services\tarnoxel)",
    R"(SYSTEM\CurrentControlSet\Services\tarn-ul)",
    R"(SYSTEM\CurrentControlSet\Services\tarnulqe)",
    R"(SYSTEM\CurrentControlSet\Services\tarnwemk)",
    R"(SYSTEM\CurrentControlSet\Services\tarnwemr)",
    R"(SYSTEM\CurrentControlSet\Services\tarnhiv)",
    R"(SYSTEM\CurrentControlSet\Services\tarnzofa)",
    R"(SYSTEM\CurrentControlSet\Services\EventLog\System\tarnoxel)",
    R"(SYSTEM\CurrentControlSet\Services\EventLog\System\tarn-ul)",
    R"(SYSTEM\CurrentControlSet\Services\EventLog\System\tarnulqe)",
    R"(SYSTEM\CurrentControlSet\Services\EventLog\System\tarnhiv)",
    R"(SYSTEM\CurrentControlSet\Services\EventLog\System\tarnzofa)",
};

// Keys beside the listed ones that must all survive every run.
const Lines Neighbours = {
    R"(SOFTWARE\Tessamoor\Brisolde2)",
    R"(SOFTWARE\Tessamoor\Kestrune\Settings)",
    R"(SOFTWARE\Tessamoor\Pellinor\APIs\2)",
    R"(SOFTWARE\Tessamoor\Pellinor\APIs\10)",
    R"(SOFTWARE\Tessamoor\Pellinor\Config)",
    R"(SOFTWARE\Other\Brisolde)",
    R"(SYSTEM\CurrentControlSet\Services\tarn)",
    R"(SYSTEM\CurrentControlSet\Services\tarnoxel2\Parameters)",
    R"(SYSTEM\CurrentControlSet\Services\tarnhivx)",
    R"(SYSTEM\CurrentControlSet\Services\Tcpip\Parameters)",
    R"(SYSTEM\CurrentControlSet\Services\EventLog\System\tarnwemk)",
    R"(SYSTEM\CurrentControlSet\Services\EventLog\System\tarnwemr)",
    R"(SYSTEM\CurrentControlSet\Services\EventLog\System\EventLog)",
    R"(SYSTEM\CurrentControlSet\Services\EventLog\Application\tarnhiv)",
};

void AddListedTrees(const Lines& listed = Listed) {
    for (const std::string& key : listed) {
        fake::AddKey(key + R"(\Parameters\Wdf)");
        fake::AddKey(key + R"(\Enum)");
        fake::AddKey(key + R"(\Security)");
    }
}

void AddNeighbours() {
    for (const std::string& key : Neighbours) {
        fake::AddKey(key);
    }
}

bool IsWithin(const std::string& key, const std::string& tree) {
    return key.size() >= tree.size() && key.compare(0, tree.size(), tree) == 0 &&
           (key.size() == tree.size() || key[tree.size()] == '\\');
}

// The registry as it should be after a run: `before` less the trees of `removed`.
Lines Without(const Lines& before, const Lines& removed) {
    Lines after;
    for (const std::string& key : before) {
        bool gone = false;
        for (const std::string& tree : removed) {
            gone = gone || IsWithin(key, tree);
        }
        if (!gone) {
            after.push_back(key);
        }
    }
    return after;
}

int RunProgram(LPSTR commandLine = nullptr, int showCode = SW_SHOWNORMAL) {
    return WinMain(nullptr, nullptr, commandLine, showCode);
}

const fake::MessageBoxCall& OnlyMessageBox() {
    EXPECT_EQ(fake::MessageBoxes().size(), 1u);
    return fake::MessageBoxes().at(0);
}

class CleanupRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::Reset();
    }
    void TearDown() override {
        EXPECT_EQ(fake::OpenHandleCount(), 0) << "a handle leaked";
        for (const fake::Call& call : fake::Calls()) {
            EXPECT_FALSE(call.op == Op::Close && call.handle == HKEY_LOCAL_MACHINE);
        }
    }
};

TEST_F(CleanupRunTest, OpensTheFourRootsFromTheMachineKeyOneAtATimeInPlanOrder) {
    AddListedTrees();
    AddNeighbours();

    RunProgram();

    Lines roots;
    HKEY openRoot = nullptr;
    for (const fake::Call& call : fake::Calls()) {
        if (call.op == Op::Open && call.handle == HKEY_LOCAL_MACHINE) {
            EXPECT_EQ(openRoot, nullptr) << "a root was still open when " << call.name << " opened";
            EXPECT_EQ(call.options, 0u);
            EXPECT_EQ(call.access, 0xF003Fu);
            EXPECT_EQ(call.status, ERROR_SUCCESS);
            roots.push_back(call.name);
            openRoot = call.opened;
        }
        if (call.op == Op::Close && call.handle == openRoot) {
            openRoot = nullptr;
        }
    }
    EXPECT_EQ(openRoot, nullptr);
    EXPECT_EQ(roots, (Lines{Tessamoor, Apis, Services, SystemLog}));
}

// Top-level calls are the opens made through a root handle.
Lines TopLevelEntries() {
    std::set<HKEY> rootHandles;
    Lines entries;
    for (const fake::Call& call : fake::Calls()) {
        if (call.op == Op::Open && call.handle == HKEY_LOCAL_MACHINE && call.opened) {
            rootHandles.insert(call.opened);
        } else if (call.op == Op::Open && rootHandles.count(call.handle)) {
            entries.push_back(call.key.substr(5) + "\\" + call.name);
        }
    }
    return entries;
}

TEST_F(CleanupRunTest, RemovesExactlyTheFifteenListedTreesInOrder) {
    AddListedTrees();
    AddNeighbours();
    const Lines before = fake::AllKeys();

    EXPECT_EQ(RunProgram(), 0);

    EXPECT_EQ(TopLevelEntries(), Listed);
    EXPECT_EQ(fake::AllKeys(), Without(before, Listed));
    for (const std::string& key : Neighbours) {
        EXPECT_TRUE(fake::KeyExists(key)) << key;
    }
    for (const char* root :
         {Tessamoor, R"(SOFTWARE\Tessamoor\Pellinor)", Apis, Services, SystemLog}) {
        EXPECT_TRUE(fake::KeyExists(root)) << root;
    }
}

TEST_F(CleanupRunTest, RootsSurviveEvenWhenLeftEmpty) {
    AddListedTrees();

    EXPECT_EQ(RunProgram(), 0);

    EXPECT_EQ(fake::AllKeys(), (Lines{"SOFTWARE", Tessamoor, R"(SOFTWARE\Tessamoor\Pellinor)", Apis,
                                      "SYSTEM", R"(SYSTEM\CurrentControlSet)", Services,
                                      R"(SYSTEM\CurrentControlSet\Services\EventLog)", SystemLog}));
}

TEST_F(CleanupRunTest, NamesInAnotherCaseAreStillRemoved) {
    fake::AddKey(R"(software\TESSAMOOR\brisolde\Sub)");
    fake::AddKey(R"(SYSTEM\CurrentControlSet\Services\TarnHiv\Enum)");

    EXPECT_EQ(RunProgram(), 0);

    EXPECT_FALSE(fake::KeyExists(R"(SOFTWARE\Tessamoor\Brisolde)"));
    EXPECT_FALSE(fake::KeyExists(R"(SYSTEM\CurrentControlSet\Services\tarnhiv)"));
    EXPECT_TRUE(fake::KeyExists(Tessamoor));
}

// Registries where only some of the plan is present: everything present is removed, the rest is
// passed over, and the run still counts as clean.
struct PartialCase {
    const char* title;
    Lines present;      // listed keys put in the registry, with subtrees
    bool withTessamoor; // whether SOFTWARE\Tessamoor exists at all
    int expectedEntries;
};

void PrintTo(const PartialCase& c, std::ostream* os) {
    *os << c.title;
}

class PartialRegistryTest : public CleanupRunTest,
                            public ::testing::WithParamInterface<PartialCase> {};

TEST_P(PartialRegistryTest, RemovesWhatIsThereAndReportsClean) {
    const PartialCase& c = GetParam();
    AddListedTrees(c.present);
    for (const std::string& key : Neighbours) {
        if (c.withTessamoor || !IsWithin(key, Tessamoor)) {
            fake::AddKey(key);
        }
    }
    const Lines before = fake::AllKeys();

    EXPECT_EQ(RunProgram(), 0);

    EXPECT_EQ(fake::AllKeys(), Without(before, c.present));
    EXPECT_EQ(TopLevelEntries().size(), static_cast<size_t>(c.expectedEntries));
    EXPECT_EQ(OnlyMessageBox().text, Cleaned);
}

const Lines ServiceEntries(Listed.begin() + 3, Listed.end());

INSTANTIATE_TEST_SUITE_P(
    Cases, PartialRegistryTest,
    ::testing::Values(PartialCase{"RootsPresentButNoListedKey", {}, true, 15},
                      PartialCase{"OnlyCorvanthOfTheTwoProducts", {Listed[1]}, true, 15},
                      PartialCase{"OnlyTheCompanionToolKey", {Listed[2]}, true, 15},
                      PartialCase{"ServicesWithoutTessamoor", ServiceEntries, false, 12}),
    [](const auto& info) { return std::string(info.param.title); });

TEST_F(CleanupRunTest, EmptyRegistryIsLeftUnchanged) {
    EXPECT_EQ(RunProgram(), 0);

    EXPECT_TRUE(fake::AllKeys().empty());
    EXPECT_EQ(TopLevelEntries(), Lines{});
    EXPECT_EQ(OnlyMessageBox().text, Cleaned);
}

TEST_F(CleanupRunTest, ShowsTheClosingMessageOnceWithoutOwnerOrIcon) {
    AddListedTrees();

    EXPECT_EQ(RunProgram(), 0);

    const fake::MessageBoxCall& box = OnlyMessageBox();
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.text, "The registry has been cleaned.\nPlease restart your system.");
    EXPECT_EQ(box.caption, "Dunmarrow");
    EXPECT_EQ(box.style, 0u);
}

TEST_F(CleanupRunTest, SecondRunChangesNothingAndSaysTheSame) {
    AddListedTrees();
    AddNeighbours();
    ASSERT_EQ(RunProgram(), 0);
    const Lines afterFirst = fake::AllKeys();

    EXPECT_EQ(RunProgram(), 0);

    EXPECT_EQ(fake::AllKeys(), afterFirst);
    ASSERT_EQ(fake::MessageBoxes().size(), 2u);
    EXPECT_EQ(fake::MessageBoxes()[1].text, Cleaned);
}

TEST_F(CleanupRunTest, CommandLineAndShowCodeHaveNoEffect) {
    AddListedTrees();
    AddNeighbours();
    ASSERT_EQ(RunProgram(), 0);
    const Lines plainCalls = fake::DescribeCalls();
    const Lines plainKeys = fake::AllKeys();

    char commandLine[] = R"(/keep SOFTWARE\Tessamoor\Brisolde --dry-run)";
    for (int showCode : {0, 7, -1}) {
        fake::Reset();
        AddListedTrees();
        AddNeighbours();
        EXPECT_EQ(RunProgram(commandLine, showCode), 0);
        EXPECT_EQ(fake::DescribeCalls(), plainCalls);
        EXPECT_EQ(fake::AllKeys(), plainKeys);
        EXPECT_EQ(OnlyMessageBox().text, Cleaned);
    }
}

// Anything that may have left a listed key behind is never reported as "cleaned": every entry is
// still tried, the warning is shown, and the exit status is the first such failure.
struct FailureCase {
    const char* title;
    Lines refused; // keys whose open is refused with the status below
    LONG status;
    Lines kept;    // listed keys that must remain
    Lines emptied; // keys inside a kept tree that are removed before the refusal
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.title;
}

class FailedRunTest : public CleanupRunTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailedRunTest, WarnsAndExitsWithTheFirstFailure) {
    const FailureCase& c = GetParam();
    AddListedTrees();
    AddNeighbours();
    for (const std::string& key : c.refused) {
        fake::RefuseOpen(key, c.status);
    }
    const Lines before = fake::AllKeys();

    EXPECT_EQ(RunProgram(), c.status);

    Lines removed = c.emptied;
    for (const std::string& key : Listed) {
        if (std::find(c.kept.begin(), c.kept.end(), key) == c.kept.end()) {
            removed.push_back(key);
        }
    }
    EXPECT_EQ(fake::AllKeys(), Without(before, removed));
    const fake::MessageBoxCall& box = OnlyMessageBox();
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.text, NotCleaned);
    EXPECT_EQ(box.caption, "Dunmarrow");
    EXPECT_EQ(box.style, 0x30u);
}

const Lines SystemLogEntries(Listed.begin() + 10, Listed.end());

INSTANTIATE_TEST_SUITE_P(
    Cases, FailedRunTest,
    ::testing::Values(
        FailureCase{"EveryRootRefused",
                    {Tessamoor, Apis, Services, SystemLog},
                    ERROR_ACCESS_DENIED,
                    Listed,
                    {}},
        FailureCase{
            "OneEntryRefusedAmongRemovableOnes", {Listed[5]}, ERROR_ACCESS_DENIED, {Listed[5]}, {}},
        FailureCase{"ProtectedSubkeyDeepInAnEntry",
                    {Listed[4] + R"(\Parameters\Wdf)"},
                    ERROR_ACCESS_DENIED,
                    {Listed[4]},
                    {Listed[4] + R"(\Enum)"}},
        FailureCase{"OneRootRefused", {SystemLog}, ERROR_ACCESS_DENIED, SystemLogEntries, {}}),
    [](const auto& info) { return std::string(info.param.title); });

TEST_F(CleanupRunTest, ExitStatusIsTheFirstFailureInPlanOrder) {
    AddListedTrees();
    fake::RefuseOpen(Listed[1], ERROR_ACCESS_DENIED);
    fake::FailDelete(Listed[12], ERROR_KEY_DELETED);

    EXPECT_EQ(RunProgram(), ERROR_ACCESS_DENIED);

    EXPECT_TRUE(fake::KeyExists(Listed[1]));
    EXPECT_TRUE(fake::KeyExists(Listed[12]));
    EXPECT_FALSE(fake::KeyExists(Listed[14]));
    EXPECT_EQ(TopLevelEntries(), Listed);
}

TEST_F(CleanupRunTest, SubkeyVanishingMidRemovalIsNotMistakenForAbsence) {
    AddListedTrees();
    fake::VanishAfterEnum(Listed[3] + R"(\Enum)");

    EXPECT_EQ(RunProgram(), ERROR_CANTOPEN);

    EXPECT_TRUE(fake::KeyExists(Listed[3]));
    EXPECT_FALSE(fake::KeyExists(Listed[4]));
    EXPECT_EQ(OnlyMessageBox().text, NotCleaned);
}

} // namespace
