#include "classes/super_string_list.h"

#include <gtest/gtest.h>

#include <random>

TEST(HashStringA, KnownValues) {
    const struct {
        const char* text;
        uint32_t hash;
    } cases[] = {{"", 0}, {"a", 97}, {"abc", 1601891}, {"abcdef", 746141172}};
    for (const auto& c : cases) EXPECT_EQ(HashStringA(c.text), c.hash) << c.text;
    // bytes above 127 are added unsigned
    EXPECT_EQ(HashStringA("\xff"), 255u);
}

TEST(SuperStringList, EmptyListFindsNothing) {
    TSuperStringList l;
    EXPECT_EQ(l.ItemIndexOf("a", true, TSuperStringList::ALL_SCOPES), nullptr);
    EXPECT_EQ(l.IndexOf("a", true, TSuperStringList::ALL_SCOPES), -1);
    EXPECT_EQ(l.IndexOf("", true, TSuperStringList::ALL_SCOPES), -1);
    EXPECT_THROW(l.GetString(0), EListError);
    EXPECT_THROW(l.GetItem(0), EListError);
    EXPECT_THROW(l.Delete(0), EListError);
}

TEST(SuperStringList, NewestFirstVersusOldestFirst) {
    TSuperStringList l;
    int older = 1, newer = 2;
    l.Add("other", 0);
    EXPECT_EQ(l.Add("x", &older, 0), 1);
    EXPECT_EQ(l.Add("x", &newer, 0), 2);
    EXPECT_EQ(l.IndexOf("x", true, TSuperStringList::ALL_SCOPES), 1);
    EXPECT_EQ(l.ItemIndexOf("x", true, TSuperStringList::ALL_SCOPES), &newer);
    // texts compare byte for byte
    EXPECT_EQ(l.IndexOf("X", true, TSuperStringList::ALL_SCOPES), -1);
}

TEST(SuperStringList, ScopeLimit) {
    TSuperStringList l;
    int obj = 0;
    l.Add("s", &obj, 3);
    const struct {
        uint32_t scope;
        bool found;
    } cases[] = {{0, false}, {2, false}, {3, true}, {4, true}, {TSuperStringList::ALL_SCOPES, true}};
    for (const auto& c : cases) {
        EXPECT_EQ(l.ItemIndexOf("s", true, c.scope) != nullptr, c.found) << c.scope;
        EXPECT_EQ(l.IndexOf("s", true, c.scope) == 0, c.found) << c.scope;
    }
    // a newer item beyond the limit does not hide an older one within it
    int inner = 1;
    l.Add("s", &inner, 5);
    EXPECT_EQ(l.ItemIndexOf("s", true, 4), &obj);
    EXPECT_EQ(l.ItemIndexOf("s", true, 5), &inner);
}

TEST(SuperStringList, NilObjectAndEmptyKey) {
    TSuperStringList l;
    l.Add("", 0);
    l.Add("n", 0);
    EXPECT_EQ(l.IndexOf("", true, TSuperStringList::ALL_SCOPES), 0);
    EXPECT_EQ(l.ItemIndexOf("n", true, TSuperStringList::ALL_SCOPES), nullptr);
    EXPECT_EQ(l.IndexOf("n", true, TSuperStringList::ALL_SCOPES), 1);
}

TEST(SuperStringList, DeleteAndSetStringKeepLookupsRight) {
    TSuperStringList l;
    int a = 0, b = 1, c = 2;
    l.Add("a", &a, 0);
    l.Add("b", &b, 0);
    l.Add("c", &c, 0);
    l.Delete(1);
    EXPECT_EQ(l.Count(), 2u);
    EXPECT_EQ(l.GetString(1), "c");
    EXPECT_EQ(l.IndexOf("c", true, TSuperStringList::ALL_SCOPES), 1);
    EXPECT_EQ(l.IndexOf("b", true, TSuperStringList::ALL_SCOPES), -1);

    l.SetString(0, "z");
    EXPECT_EQ(l.GetSSLItem(0)->hash, HashStringA("z"));
    EXPECT_EQ(l.IndexOf("z", true, TSuperStringList::ALL_SCOPES), 0);
    EXPECT_EQ(l.IndexOf("a", true, TSuperStringList::ALL_SCOPES), -1);
    // renamed to a text that a later item has: the older one comes first
    l.SetString(1, "z");
    EXPECT_EQ(l.IndexOf("z", true, TSuperStringList::ALL_SCOPES), 0);
    EXPECT_EQ(l.ItemIndexOf("z", true, TSuperStringList::ALL_SCOPES), &c);
    l.SetItem(1, &b);
    EXPECT_EQ(l.ItemIndexOf("z", true, TSuperStringList::ALL_SCOPES), &b);
    EXPECT_THROW(l.SetString(2, "q"), EListError);
}

TEST(SuperStringList, FreeLeavesObjectsAlive) {
    int* obj = new int(42);
    {
        TSuperStringList l;
        l.Add("k", obj, 0);
    }
    EXPECT_EQ(*obj, 42);
    delete obj;
}

// The hash index must answer exactly as a linear scan of the list would.
TEST(SuperStringList, IndexAgreesWithLinearScan) {
    struct Ref {
        uint32_t scope;
        std::string text;
        void* item;
    };
    std::vector<Ref> ref;
    TSuperStringList l;
    std::mt19937 rng(7);
    std::vector<int> objs(4000);
    const char* names[] = {"a", "b", "c", "", "ab", "ba"};
    for (int step = 0; step < 4000; ++step) {
        const int op = static_cast<int>(rng() % 10);
        if (op < 6 || ref.empty()) {
            std::string t = names[rng() % 6];
            uint32_t sc = rng() % 4;
            l.Add(t, &objs[step], sc);
            ref.push_back({sc, t, &objs[step]});
        } else if (op < 8) {
            uint32_t i = rng() % ref.size();
            l.Delete(i);
            ref.erase(ref.begin() + i);
        } else if (op < 9) {
            uint32_t i = rng() % ref.size();
            std::string t = names[rng() % 6];
            l.SetString(i, t);
            ref[i].text = t;
        } else {
            uint32_t keep = static_cast<uint32_t>(rng() % 3);
            l.DeleteIf([keep](const TSSLItem& it) { return it.scope == keep && it.text == "c"; });
            std::erase_if(ref, [keep](const Ref& r) { return r.scope == keep && r.text == "c"; });
        }
        ASSERT_EQ(l.Count(), ref.size());
        for (const char* q : names) {
            for (uint32_t sc : {0u, 1u, 2u, 3u, TSuperStringList::ALL_SCOPES}) {
                int32_t oldest = -1;
                void* newest = nullptr;
                for (size_t i = 0; i < ref.size(); ++i)
                    if (ref[i].scope <= sc && ref[i].text == q) {
                        if (oldest < 0) oldest = static_cast<int32_t>(i);
                        newest = ref[i].item;
                    }
                ASSERT_EQ(l.IndexOf(q, true, sc), oldest) << "step " << step;
                ASSERT_EQ(l.ItemIndexOf(q, true, sc), newest) << "step " << step;
            }
        }
    }
}

// Many distinct keys: the index grows, and freeing slots moves later ones of a
// probe run back; every key must stay findable in the same order as before.
TEST(SuperStringList, ManyKeysSurviveGrowthAndRemoval) {
    std::vector<std::string> ref;
    TSuperStringList l;
    std::mt19937 rng(11);
    std::vector<std::string> names;
    for (int i = 0; i < 300; ++i) names.push_back("k" + std::to_string(i));
    int dummy = 0;
    auto check = [&](int step) {
        for (const std::string& q : names) {
            int32_t oldest = -1;
            for (size_t i = 0; i < ref.size(); ++i)
                if (ref[i] == q) {
                    oldest = static_cast<int32_t>(i);
                    break;
                }
            ASSERT_EQ(l.IndexOf(q, true, TSuperStringList::ALL_SCOPES), oldest) << "step " << step << " " << q;
        }
    };
    for (int i = 0; i < 250; ++i) {
        l.Add(names[i], &dummy, 0);
        ref.push_back(names[i]);
    }
    check(-1);  // positions before anything was removed
    for (int step = 0; step < 3000; ++step) {
        if (rng() % 2 || ref.empty()) {
            const std::string& t = names[rng() % names.size()];
            l.Add(t, &dummy, 0);
            ref.push_back(t);
        } else {
            uint32_t i = rng() % ref.size();
            l.Delete(i);
            ref.erase(ref.begin() + i);
        }
        if (step % 100 == 0) check(step);
    }
    check(3000);
}
