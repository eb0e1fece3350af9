#include "delete_key_tree.h"
#include "fake_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using fake::Op;
using Lines = std::vector<std::string>;

namespace {

// Every test removes trees beneath "SOFTWARE\Parent", through a handle the test owns.
class DeleteKeyTreeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::Reset();
        fake::AddKey(R"(SOFTWARE\Parent\Sibling)");
        parent = fake::OpenForTest(R"(SOFTWARE\Parent)");
    }

    void TearDown() override {
        // Whatever happened, the caller's handle is still open and usable, and nothing leaked.
        EXPECT_TRUE(fake::HandleIsOpen(parent));
        char name[256];
        DWORD length = sizeof name;
        EXPECT_EQ(RegEnumKeyExA(parent, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
                  ERROR_SUCCESS);
        for (const fake::Call& call : fake::Calls()) {
            EXPECT_FALSE(call.op == Op::Close && call.handle == parent) << "closed the parent";
        }
        fake::CloseForTest(parent);
        EXPECT_EQ(fake::OpenHandleCount(), 0) << "a handle leaked";
    }

    static void AddKeys(const Lines& paths) {
        for (const std::string& path : paths) {
            fake::AddKey(R"(SOFTWARE\Parent\)" + path);
        }
    }

    static bool Exists(const std::string& path) {
        return fake::KeyExists(R"(SOFTWARE\Parent\)" + path);
    }

    // The names passed to RegOpenKeyExA and RegDeleteKeyA, in call order.
    static Lines NamesOf(Op op) {
        Lines names;
        for (const fake::Call& call : fake::Calls()) {
            if (call.op == op) {
                names.push_back(call.name);
            }
        }
        return names;
    }

    HKEY parent = nullptr;
};

TEST_F(DeleteKeyTreeTest, LeafKeyIsOpenedEnumeratedClosedThenDeletedThroughItsParent) {
    AddKeys({"Leaf"});

    EXPECT_EQ(DeleteKeyTree(parent, "Leaf"), ERROR_SUCCESS);

    EXPECT_EQ(fake::DescribeCalls(), (Lines{
                                         R"(Open HKLM\SOFTWARE\Parent : Leaf -> 0)",
                                         R"(Enum HKLM\SOFTWARE\Parent\Leaf [0] -> 259)",
                                         R"(Close HKLM\SOFTWARE\Parent\Leaf)",
                                         R"(Delete HKLM\SOFTWARE\Parent : Leaf -> 0)",
                                     }));
    const auto& calls = fake::Calls();
    EXPECT_EQ(calls[0].handle, parent);
    EXPECT_EQ(calls[0].options, 0u);
    EXPECT_EQ(calls[0].access, 0xF003Fu);
    EXPECT_EQ(calls[1].handle, calls[0].opened);
    EXPECT_EQ(calls[1].nameLength, 256u);
    EXPECT_EQ(calls[2].handle, calls[0].opened);
    EXPECT_EQ(calls[3].handle, parent);
    EXPECT_FALSE(Exists("Leaf"));
    EXPECT_TRUE(Exists("Sibling"));
}

TEST_F(DeleteKeyTreeTest, LeafKeyReturnsTheStatusOfItsDeletion) {
    AddKeys({"Leaf"});
    fake::FailDelete(R"(SOFTWARE\Parent\Leaf)", ERROR_ACCESS_DENIED);

    EXPECT_EQ(DeleteKeyTree(parent, "Leaf"), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(Exists("Leaf"));
}

TEST_F(DeleteKeyTreeTest, MissingKeyReturnsNotFoundAndTouchesNothing) {
    const Lines before = fake::AllKeys();

    EXPECT_EQ(DeleteKeyTree(parent, "Missing"), ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(fake::DescribeCalls(), (Lines{R"(Open HKLM\SOFTWARE\Parent : Missing -> 2)"}));
    EXPECT_EQ(fake::AllKeys(), before);
}

TEST_F(DeleteKeyTreeTest, TreeIsRemovedLeavesFirstAlwaysAtIndexZero) {
    AddKeys({R"(Top\alpha\a1)", R"(Top\alpha\A2\Deep\Deeper)", R"(Top\Beta)", R"(Top\gamma\g1)"});

    EXPECT_EQ(DeleteKeyTree(parent, "Top"), ERROR_SUCCESS);

    EXPECT_EQ(NamesOf(Op::Delete),
              (Lines{"a1", "Deeper", "Deep", "A2", "alpha", "Beta", "g1", "gamma", "Top"}));
    EXPECT_FALSE(Exists("Top"));
    EXPECT_TRUE(Exists("Sibling"));
    // Each key is enumerated to its end, closed, and only then deleted through its parent.
    const auto& calls = fake::Calls();
    for (size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].op == Op::Enum) {
            EXPECT_EQ(calls[i].index, 0u);
            EXPECT_EQ(calls[i].nameLength, 256u);
        }
        if (calls[i].op == Op::Delete) {
            ASSERT_GE(i, 2u);
            EXPECT_EQ(calls[i - 1].op, Op::Close);
            EXPECT_EQ(calls[i - 1].key, calls[i].key + "\\" + calls[i].name);
            EXPECT_EQ(calls[i - 2].op, Op::Enum);
            EXPECT_EQ(calls[i - 2].status, ERROR_NO_MORE_ITEMS);
        }
    }
}

// A subkey refuses to open mid-tree: what came before it is gone, it and its ancestors stay,
// later siblings at every level are never touched, and the status comes back unchanged.
class RefusedSubkeyTest : public DeleteKeyTreeTest, public ::testing::WithParamInterface<LONG> {};

TEST_P(RefusedSubkeyTest, StopsTheWholeRemovalAndReturnsTheRefusal) {
    AddKeys({R"(Top\A\A1)", R"(Top\B\B1)", R"(Top\B\B2\X)", R"(Top\B\B3)", R"(Top\C)"});
    fake::RefuseOpen(R"(SOFTWARE\Parent\Top\B\B2)", GetParam());

    EXPECT_EQ(DeleteKeyTree(parent, "Top"), GetParam());

    EXPECT_EQ(NamesOf(Op::Delete), (Lines{"A1", "A", "B1"}));
    EXPECT_EQ(NamesOf(Op::Open), (Lines{"Top", "A", "A1", "B", "B1", "B2"}));
    for (const char* kept : {"Top", R"(Top\B)", R"(Top\B\B2\X)", R"(Top\B\B3)", R"(Top\C)"}) {
        EXPECT_TRUE(Exists(kept)) << kept;
    }
    EXPECT_FALSE(Exists(R"(Top\A)"));
    EXPECT_FALSE(Exists(R"(Top\B\B1)"));
}

INSTANTIATE_TEST_SUITE_P(Statuses, RefusedSubkeyTest,
                         ::testing::Values(ERROR_ACCESS_DENIED, ERROR_KEY_DELETED, ERROR_CANTOPEN));

TEST_F(DeleteKeyTreeTest, FailedDeletionMidTreeStopsAtThatLevelAndAbove) {
    AddKeys({R"(Top\A\A1)", R"(Top\A\A2)", R"(Top\B)"});
    fake::FailDelete(R"(SOFTWARE\Parent\Top\A\A1)", ERROR_ACCESS_DENIED);

    EXPECT_EQ(DeleteKeyTree(parent, "Top"), ERROR_ACCESS_DENIED);

    EXPECT_EQ(NamesOf(Op::Delete), (Lines{"A1"}));
    EXPECT_TRUE(Exists(R"(Top\A\A1)"));
    EXPECT_TRUE(Exists(R"(Top\A\A2)"));
    EXPECT_TRUE(Exists(R"(Top\B)"));
}

// An enumeration that fails for another reason than "no more items" ends the listing like the
// last subkey would: the key is closed and its deletion tried, and that status is returned.
struct FailedEnumCase {
    const char* title;
    Lines keys;
    LONG enumStatus;
    LONG expected;
    bool topRemains;
};

void PrintTo(const FailedEnumCase& c, std::ostream* os) {
    *os << c.title;
}

class FailedEnumTest : public DeleteKeyTreeTest,
                       public ::testing::WithParamInterface<FailedEnumCase> {};

TEST_P(FailedEnumTest, EndsTheListingAndTriesTheDeletion) {
    const FailedEnumCase& c = GetParam();
    AddKeys(c.keys);
    fake::FailEnum(R"(SOFTWARE\Parent\Top)", c.enumStatus);

    EXPECT_EQ(DeleteKeyTree(parent, "Top"), c.expected);

    EXPECT_EQ(NamesOf(Op::Delete), (Lines{"Top"}));
    EXPECT_EQ(Exists("Top"), c.topRemains);
    for (const std::string& key : c.keys) {
        EXPECT_EQ(Exists(key), c.topRemains) << key;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FailedEnumTest,
    ::testing::Values(
        FailedEnumCase{
            "EmptyKeyIsStillDeleted", {"Top"}, ERROR_ACCESS_DENIED, ERROR_SUCCESS, false},
        // The registry refuses to delete a key that still has subkeys; nothing is lost.
        FailedEnumCase{"KeyWithSubkeysStays",
                       {R"(Top\A)", R"(Top\B)"},
                       ERROR_MORE_DATA,
                       ERROR_ACCESS_DENIED,
                       true}),
    [](const auto& info) { return std::string(info.param.title); });

// A subkey that is listed but then cannot be found by its name leaves its parent in place. The
// level that listed it reports ERROR_CANTOPEN, never "not found", which would read as "gone".
TEST_F(DeleteKeyTreeTest, VanishedSubkeyIsReportedAsAFailureNotAsAbsence) {
    AddKeys({R"(Top\A)", R"(Top\Mid\Gone\G1)", R"(Top\Mid\Later)", R"(Top\Z)"});
    fake::VanishAfterEnum(R"(SOFTWARE\Parent\Top\Mid\Gone)");

    EXPECT_EQ(DeleteKeyTree(parent, "Top"), ERROR_CANTOPEN);

    const Lines calls = fake::DescribeCalls();
    EXPECT_NE(
        std::find(calls.begin(), calls.end(), R"(Open HKLM\SOFTWARE\Parent\Top\Mid : Gone -> 2)"),
        calls.end());
    EXPECT_EQ(NamesOf(Op::Delete), (Lines{"A"}));
    EXPECT_TRUE(Exists(R"(Top\Mid\Later)"));
    EXPECT_TRUE(Exists(R"(Top\Z)"));
    EXPECT_FALSE(Exists(R"(Top\Mid\Gone)"));
}

TEST_F(DeleteKeyTreeTest, SubkeyNamesOf255CharactersFitTheBuffer) {
    const std::string longest(255, 'n');
    const std::string other = std::string(254, 'm') + "Z";
    AddKeys({"Top\\" + longest + "\\" + other, "Top\\" + other});

    EXPECT_EQ(DeleteKeyTree(parent, "Top"), ERROR_SUCCESS);

    EXPECT_EQ(NamesOf(Op::Delete), (Lines{other, other, longest, "Top"}));
    EXPECT_FALSE(Exists("Top"));
}

TEST_F(DeleteKeyTreeTest, NamesAreMatchedWithoutRegardToCase) {
    AddKeys({R"(MiXeD\Child)"});

    EXPECT_EQ(DeleteKeyTree(parent, "mixed"), ERROR_SUCCESS);

    EXPECT_FALSE(Exists("MiXeD"));
    EXPECT_TRUE(Exists("Sibling"));
}

} // namespace
