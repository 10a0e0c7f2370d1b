#include "SearchPlatform.h"
#include "RestrictionCopy.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

constexpr ULONG kSubject = PR_SUBJECT_W;
constexpr ULONG kFlags = PR_MESSAGE_FLAGS;
constexpr ULONG kSize = PR_MESSAGE_SIZE;
constexpr ULONG kRecipients = PR_MESSAGE_RECIPIENTS;
constexpr ULONG kAttachments = PR_MESSAGE_ATTACHMENTS;
constexpr ULONG kEmail = PR_EMAIL_ADDRESS_W;
constexpr ULONG kDisplayName = PR_DISPLAY_NAME_W;

// Builds source trees in ordinary memory that the tree owns; nodes are
// returned by value and copied into arrays the tree keeps.
class CTree {
public:
    SPropValue* Value(const SPropValue& v)
    {
        m_values.push_back(v);
        return &m_values.back();
    }
    SPropValue* Wide(ULONG tag, const wchar_t* text)
    {
        m_wide.emplace_back(text);
        SPropValue v{};
        v.ulPropTag = tag;
        v.Value.lpszW = &m_wide.back()[0];
        return Value(v);
    }
    SPropValue* Long(ULONG tag, LONG n)
    {
        SPropValue v{};
        v.ulPropTag = tag;
        v.Value.l = n;
        return Value(v);
    }
    SRestriction* Array(std::vector<SRestriction> nodes)
    {
        m_arrays.push_back(std::move(nodes));
        return m_arrays.back().data();
    }
    SRestriction And(std::vector<SRestriction> children, ULONG rt = RES_AND)
    {
        SRestriction r{};
        r.rt = rt;
        r.res.resAnd.cRes = static_cast<ULONG>(children.size());
        r.res.resAnd.lpRes = Array(std::move(children));
        return r;
    }
    SRestriction Not(const SRestriction& child)
    {
        SRestriction r{};
        r.rt = RES_NOT;
        r.res.resNot.lpRes = Array({child});
        return r;
    }
    SRestriction Content(ULONG tag, const wchar_t* text)
    {
        SRestriction r{};
        r.rt = RES_CONTENT;
        r.res.resContent.ulFuzzyLevel = FL_SUBSTRING | FL_IGNORECASE;
        r.res.resContent.ulPropTag = tag;
        r.res.resContent.lpProp = Wide(tag, text);
        return r;
    }
    SRestriction Property(ULONG relop, SPropValue* value)
    {
        SRestriction r{};
        r.rt = RES_PROPERTY;
        r.res.resProperty.relop = relop;
        r.res.resProperty.ulPropTag = value->ulPropTag;
        r.res.resProperty.lpProp = value;
        return r;
    }
    SRestriction Sub(ULONG object, const SRestriction& inner)
    {
        SRestriction r{};
        r.rt = RES_SUBRESTRICTION;
        r.res.resSub.ulSubObject = object;
        r.res.resSub.lpRes = Array({inner});
        return r;
    }
    SRestriction Comment(std::vector<SPropValue> values, const SRestriction& inner)
    {
        SRestriction r{};
        r.rt = RES_COMMENT;
        r.res.resComment.cValues = static_cast<ULONG>(values.size());
        m_valueArrays.push_back(std::move(values));
        r.res.resComment.lpProp = m_valueArrays.back().data();
        r.res.resComment.lpRes = Array({inner});
        return r;
    }
    static SRestriction Simple(ULONG rt, ULONG a, ULONG b, ULONG c)
    {
        SRestriction r{};
        r.rt = rt;
        r.res.resBitMask.relBMR = a; // every simple kind is three ULONGs
        r.res.resBitMask.ulPropTag = b;
        r.res.resBitMask.ulMask = c;
        return r;
    }

private:
    std::deque<SPropValue> m_values;
    std::deque<std::wstring> m_wide;
    std::deque<std::vector<SRestriction>> m_arrays;
    std::deque<std::vector<SPropValue>> m_valueArrays;
};

// Compares two values by content; pointers into the source are a failure.
::testing::AssertionResult SameValue(const SPropValue& a, const SPropValue& b)
{
    if (a.ulPropTag != b.ulPropTag)
        return ::testing::AssertionFailure() << "tag " << std::hex << a.ulPropTag << " vs " << b.ulPropTag;
    switch (PROP_TYPE(a.ulPropTag)) {
    case PT_UNICODE:
        if (a.Value.lpszW == b.Value.lpszW || std::wcscmp(a.Value.lpszW, b.Value.lpszW) != 0)
            return ::testing::AssertionFailure() << "unicode value shared or different";
        break;
    case PT_STRING8:
        if (a.Value.lpszA == b.Value.lpszA || std::strcmp(a.Value.lpszA, b.Value.lpszA) != 0)
            return ::testing::AssertionFailure() << "string8 value shared or different";
        break;
    case PT_BINARY:
        if (a.Value.bin.cb != b.Value.bin.cb || a.Value.bin.lpb == b.Value.bin.lpb ||
            std::memcmp(a.Value.bin.lpb, b.Value.bin.lpb, a.Value.bin.cb) != 0)
            return ::testing::AssertionFailure() << "binary value shared or different";
        break;
    default:
        if (a.Value.li.QuadPart != b.Value.li.QuadPart)
            return ::testing::AssertionFailure() << "scalar value differs";
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult SameTree(const SRestriction& a, const SRestriction& b)
{
    if (a.rt != b.rt)
        return ::testing::AssertionFailure() << "rt " << a.rt << " vs " << b.rt;
    switch (a.rt) {
    case RES_AND:
    case RES_OR:
        if (a.res.resAnd.cRes != b.res.resAnd.cRes || a.res.resAnd.lpRes == b.res.resAnd.lpRes)
            return ::testing::AssertionFailure() << "children shared or counted differently";
        for (ULONG i = 0; i < a.res.resAnd.cRes; ++i)
            if (auto r = SameTree(a.res.resAnd.lpRes[i], b.res.resAnd.lpRes[i]); !r)
                return r;
        break;
    case RES_NOT:
        if (a.res.resNot.lpRes == b.res.resNot.lpRes)
            return ::testing::AssertionFailure() << "NOT child shared";
        return SameTree(*a.res.resNot.lpRes, *b.res.resNot.lpRes);
    case RES_CONTENT:
        if (a.res.resContent.ulFuzzyLevel != b.res.resContent.ulFuzzyLevel ||
            a.res.resContent.ulPropTag != b.res.resContent.ulPropTag)
            return ::testing::AssertionFailure() << "content fields differ";
        return SameValue(*a.res.resContent.lpProp, *b.res.resContent.lpProp);
    case RES_PROPERTY:
        if (a.res.resProperty.relop != b.res.resProperty.relop ||
            a.res.resProperty.ulPropTag != b.res.resProperty.ulPropTag)
            return ::testing::AssertionFailure() << "property fields differ";
        return SameValue(*a.res.resProperty.lpProp, *b.res.resProperty.lpProp);
    case RES_SUBRESTRICTION:
        if (a.res.resSub.ulSubObject != b.res.resSub.ulSubObject || a.res.resSub.lpRes == b.res.resSub.lpRes)
            return ::testing::AssertionFailure() << "subrestriction differs or shared";
        return SameTree(*a.res.resSub.lpRes, *b.res.resSub.lpRes);
    case RES_COMMENT:
        if (a.res.resComment.cValues != b.res.resComment.cValues)
            return ::testing::AssertionFailure() << "comment value count differs";
        for (ULONG i = 0; i < a.res.resComment.cValues; ++i)
            if (auto r = SameValue(a.res.resComment.lpProp[i], b.res.resComment.lpProp[i]); !r)
                return r;
        return SameTree(*a.res.resComment.lpRes, *b.res.resComment.lpRes);
    case RES_COMPAREPROPS:
    case RES_BITMASK:
    case RES_SIZE:
    case RES_EXIST:
        if (std::memcmp(&a.res, &b.res, 3 * sizeof(ULONG)) != 0)
            return ::testing::AssertionFailure() << "fields differ";
        break;
    }
    return ::testing::AssertionSuccess();
}

// One MAPI root for a copy, freed with the test.
class CRoot {
public:
    CRoot() { EXPECT_EQ(S_OK, MAPIAllocateBuffer(sizeof(SRestriction), reinterpret_cast<void**>(&m_root))); }
    ~CRoot() { Free(); }
    void Free()
    {
        if (m_root)
            MAPIFreeBuffer(m_root);
        m_root = nullptr;
    }
    SRestriction* Get() { return m_root; }

private:
    SRestriction* m_root = nullptr;
};

SearchTagSet Tags(std::initializer_list<ULONG> tags)
{
    SearchTagSet set;
    for (ULONG t : tags)
        set.insert(static_cast<LONG>(t));
    return set;
}

struct PlainCase {
    const char* name;
    SRestriction (*build)(CTree&);
    SearchTagSet tags;
};

TEST(RestrictionCopy, WithoutSubrestrictionTranslationIsAnExactCopyAndTheMapStaysEmpty)
{
    const PlainCase cases[] = {
        {"content and property", [](CTree& t) {
             return t.And({t.Content(kSubject, L"quarterly"), t.Property(RELOP_GE, t.Long(kSize, 4096))});
         }, Tags({kSubject, kSize})},
        {"or of bitmask, size, exist", [](CTree& t) {
             return t.And({CTree::Simple(RES_BITMASK, BMR_NEZ, kFlags, MSGFLAG_READ),
                           CTree::Simple(RES_SIZE, RELOP_LT, kSubject, 100),
                           CTree::Simple(RES_EXIST, 0, kSize, 0)}, RES_OR);
         }, Tags({kFlags, kSubject, kSize})},
        {"not of compare props", [](CTree& t) {
             return t.Not(CTree::Simple(RES_COMPAREPROPS, RELOP_EQ, kDisplayName, kEmail));
         }, Tags({kDisplayName, kEmail})},
        {"comment with values", [](CTree& t) {
             SPropValue note{};
             note.ulPropTag = PROP_TAG(PT_STRING8, 0x6001);
             note.Value.lpszA = const_cast<char*>("saved by the find dialog");
             SPropValue id{};
             id.ulPropTag = PROP_TAG(PT_LONG, 0x6002);
             id.Value.l = -7;
             return t.Comment({note, id}, t.Content(kSubject, L"x"));
         }, Tags({kSubject})},
        {"unknown kind", [](CTree&) { return CTree::Simple(99, 1, 2, 3); }, Tags({})},
    };
    for (const PlainCase& c : cases) {
        SCOPED_TRACE(c.name);
        CTree tree;
        const SRestriction src = c.build(tree);
        CRoot root;
        SearchTagSet tags;
        SubRestrictionMap map;
        EXPECT_EQ(S_OK, TranslateRestriction(root.Get(), &src, root.Get(), &tags, &map));
        if (src.rt == 99)
            EXPECT_EQ(99u, root.Get()->rt);
        else
            EXPECT_TRUE(SameTree(src, *root.Get()));
        EXPECT_TRUE(map.empty());
        EXPECT_EQ(c.tags, tags);
    }
}

TEST(RestrictionCopy, RecipientSubrestrictionsBecomeTestsOfNumberedBooleanColumns)
{
    CTree tree;
    const SRestriction src = tree.And({tree.Sub(kRecipients, tree.Content(kEmail, L"anna@")),
                                       tree.Content(kSubject, L"plan"),
                                       tree.Sub(kRecipients, tree.Content(kDisplayName, L"Boris"))});
    CRoot root;
    SearchTagSet tags;
    SubRestrictionMap map;
    ASSERT_EQ(S_OK, TranslateRestriction(root.Get(), &src, root.Get(), &tags, &map));

    const SRestriction& out = *root.Get();
    ASSERT_EQ(RES_AND, out.rt);
    ASSERT_EQ(3u, out.res.resAnd.cRes);
    const ULONG expected[] = {0x7C00000B, 0, 0x7C01000B};
    for (int i : {0, 2}) {
        const SRestriction& test = out.res.resAnd.lpRes[i];
        ASSERT_EQ(RES_PROPERTY, test.rt);
        EXPECT_EQ(RELOP_EQ, test.res.resProperty.relop);
        EXPECT_EQ(expected[i], test.res.resProperty.ulPropTag);
        EXPECT_EQ(expected[i], test.res.resProperty.lpProp->ulPropTag);
        EXPECT_EQ(TRUE, test.res.resProperty.lpProp->Value.b);
    }
    EXPECT_TRUE(SameTree(src.res.resAnd.lpRes[1], out.res.resAnd.lpRes[1]));
    // The tags inside the subrestrictions are the recipient table's, not the message's.
    EXPECT_EQ(Tags({0x7C00000B, 0x7C01000B, kSubject}), tags);

    ASSERT_EQ(2u, map.size());
    EXPECT_TRUE(SameTree(src.res.resAnd.lpRes[0], *map.at(0x7C00000B)));
    EXPECT_TRUE(SameTree(src.res.resAnd.lpRes[2], *map.at(0x7C01000B)));
    FreeSubRestrictionMap(map);
    EXPECT_TRUE(map.empty());
}

TEST(RestrictionCopy, SubrestrictionsAreReplacedInPlaceAtAnyDepthInTreeOrder)
{
    CTree tree;
    // OR( NOT(sub attachments), COMMENT(-> sub recipients) ): numbered depth first.
    const SRestriction src =
        tree.And({tree.Not(tree.Sub(kAttachments, tree.Content(PR_ATTACH_LONG_FILENAME_W, L".pdf"))),
                  tree.Comment({}, tree.Sub(kRecipients, tree.Content(kEmail, L"anna@")))},
                 RES_OR);
    CRoot root;
    SearchTagSet tags;
    SubRestrictionMap map;
    ASSERT_EQ(S_OK, TranslateRestriction(root.Get(), &src, root.Get(), &tags, &map));
    const SRestriction& out = *root.Get();
    ASSERT_EQ(RES_OR, out.rt);
    const SRestriction& notNode = out.res.resOr.lpRes[0];
    ASSERT_EQ(RES_NOT, notNode.rt);
    EXPECT_EQ(RES_PROPERTY, notNode.res.resNot.lpRes->rt);
    EXPECT_EQ(0x7C00000Bu, notNode.res.resNot.lpRes->res.resProperty.ulPropTag);
    const SRestriction& comment = out.res.resOr.lpRes[1];
    ASSERT_EQ(RES_COMMENT, comment.rt);
    EXPECT_EQ(0x7C01000Bu, comment.res.resComment.lpRes->res.resProperty.ulPropTag);
    EXPECT_EQ(kAttachments, map.at(0x7C00000B)->res.resSub.ulSubObject);
    EXPECT_EQ(kRecipients, map.at(0x7C01000B)->res.resSub.ulSubObject);
    FreeSubRestrictionMap(map);
}

TEST(RestrictionCopy, CopyAndTranslationWithoutMapKeepSubrestrictionsAndCollectTheirTags)
{
    CTree tree;
    const SRestriction src = tree.Not(tree.Sub(kRecipients, tree.Content(kEmail, L"anna@")));
    for (bool translate : {false, true}) {
        SCOPED_TRACE(translate ? "TranslateRestriction without map" : "CopyRestriction");
        CRoot root;
        SearchTagSet tags;
        HRESULT hr = translate ? TranslateRestriction(root.Get(), &src, root.Get(), &tags, nullptr)
                               : CopyRestriction(root.Get(), &src, root.Get(), &tags);
        EXPECT_EQ(S_OK, hr);
        EXPECT_TRUE(SameTree(src, *root.Get()));
        EXPECT_EQ(Tags({kEmail}), tags);
    }
    CRoot root;
    EXPECT_EQ(S_OK, CopyRestriction(root.Get(), &src, root.Get(), nullptr));
    EXPECT_TRUE(SameTree(src, *root.Get()));
}

TEST(RestrictionCopy, CopyOutlivesTheSourceAndTheMapOutlivesTheCopy)
{
    // The source lives in MAPI memory and is scribbled over before it goes.
    void* sourceRoot = nullptr;
    ASSERT_EQ(S_OK, MAPIAllocateBuffer(sizeof(SRestriction), &sourceRoot));
    CTree tree;
    const SRestriction model = tree.And({tree.Content(kSubject, L"budget"),
                                         tree.Sub(kRecipients, tree.Content(kEmail, L"anna@"))});
    auto* source = static_cast<SRestriction*>(sourceRoot);
    ASSERT_EQ(S_OK, CopyRestriction(source, &model, sourceRoot, nullptr));

    CRoot copy;
    SubRestrictionMap map;
    ASSERT_EQ(S_OK, TranslateRestriction(copy.Get(), source, copy.Get(), nullptr, &map));
    SRestriction* subject = &source->res.resAnd.lpRes[0];
    std::memset(subject->res.resContent.lpProp->Value.lpszW, 0xCC, 6 * sizeof(wchar_t));
    std::memset(source->res.resAnd.lpRes, 0xCC, 2 * sizeof(SRestriction));
    MAPIFreeBuffer(sourceRoot);

    EXPECT_TRUE(SameTree(model.res.resAnd.lpRes[0], copy.Get()->res.resAnd.lpRes[0]));
    copy.Free();
    ASSERT_EQ(1u, map.size());
    EXPECT_TRUE(SameTree(model.res.resAnd.lpRes[1], *map.begin()->second));
    FreeSubRestrictionMap(map);
}

TEST(RestrictionCopy, PropertyValuesOfEveryKindAreCopiedIntoTheirOwnBlocks)
{
    GUID guid = {0x12345678, 0x9abc, 0xdef0, {1, 2, 3, 4, 5, 6, 7, 8}};
    BYTE bytes[] = {0, 1, 2, 0xFF};
    wchar_t w1[] = L"Zoë", w2[] = L"";
    char a1[] = "alpha", a2[] = "beta";
    LPWSTR wides[] = {w1, w2};
    LPSTR ansis[] = {a1, a2};
    LONG longs[] = {1, -2, 3};
    short shorts[] = {7, -8};
    double doubles[] = {0.5, -1e300};
    SBinary binaries[] = {{4, bytes}, {0, nullptr}};
    GUID guids[] = {guid, GUID_NULL};

    CRoot root;
    auto check = [&](const char* name, const SPropValue& src, auto&& same) {
        SCOPED_TRACE(name);
        SPropValue dst;
        std::memset(&dst, 0xAB, sizeof(dst));
        ASSERT_EQ(S_OK, CopyPropValue(&dst, &src, root.Get()));
        EXPECT_EQ(src.ulPropTag, dst.ulPropTag);
        EXPECT_EQ(0u, dst.dwAlignPad);
        same(src.Value, dst.Value);
    };
    auto value = [](ULONG type, auto fill) {
        SPropValue v{};
        v.ulPropTag = PROP_TAG(type, 0x6100);
        fill(v.Value);
        return v;
    };
    check("PT_LONG", value(PT_LONG, [](auto& v) { v.l = -123456; }), [](auto& s, auto& d) { EXPECT_EQ(s.l, d.l); });
    check("PT_ERROR", value(PT_ERROR, [](auto& v) { v.err = MAPI_E_NOT_FOUND; }),
          [](auto& s, auto& d) { EXPECT_EQ(s.err, d.err); });
    check("PT_I2", value(PT_I2, [](auto& v) { v.i = -5; }), [](auto& s, auto& d) { EXPECT_EQ(s.i, d.i); });
    check("PT_BOOLEAN", value(PT_BOOLEAN, [](auto& v) { v.b = 1; }), [](auto& s, auto& d) { EXPECT_EQ(1, d.b); });
    check("PT_DOUBLE", value(PT_DOUBLE, [](auto& v) { v.dbl = 2.25; }),
          [](auto& s, auto& d) { EXPECT_EQ(2.25, d.dbl); });
    check("PT_SYSTIME", value(PT_SYSTIME, [](auto& v) { v.li.QuadPart = 0x01D0123456789ABCLL; }),
          [](auto& s, auto& d) { EXPECT_EQ(s.li.QuadPart, d.li.QuadPart); });
    check("PT_I8", value(PT_I8, [](auto& v) { v.li.QuadPart = -1; }),
          [](auto& s, auto& d) { EXPECT_EQ(-1, d.li.QuadPart); });
    check("PT_OBJECT", value(PT_OBJECT, [](auto& v) { v.x = 77; }), [](auto&, auto& d) { EXPECT_EQ(0, d.x); });
    check("PT_UNICODE", value(PT_UNICODE, [&](auto& v) { v.lpszW = w1; }), [](auto& s, auto& d) {
        EXPECT_NE(s.lpszW, d.lpszW);
        EXPECT_STREQ(s.lpszW, d.lpszW);
    });
    check("PT_STRING8", value(PT_STRING8, [&](auto& v) { v.lpszA = a1; }), [](auto& s, auto& d) {
        EXPECT_NE(s.lpszA, d.lpszA);
        EXPECT_STREQ(s.lpszA, d.lpszA);
    });
    check("PT_CLSID", value(PT_CLSID, [&](auto& v) { v.lpguid = &guid; }), [](auto& s, auto& d) {
        EXPECT_NE(s.lpguid, d.lpguid);
        EXPECT_TRUE(IsEqualGUID(*s.lpguid, *d.lpguid));
    });
    for (ULONG type : {ULONG(PT_BINARY), ULONG(0x0105)})
        check("binary", value(type, [&](auto& v) { v.bin = {4, bytes}; }), [](auto& s, auto& d) {
            EXPECT_EQ(4u, d.bin.cb);
            EXPECT_NE(s.bin.lpb, d.bin.lpb);
            EXPECT_EQ(0, std::memcmp(s.bin.lpb, d.bin.lpb, 4));
        });
    // Multi-valued values are copied whole: Outlook's category searches test them.
    check("PT_MV_UNICODE", value(PT_MV_UNICODE, [&](auto& v) { v.MVszW = {2, wides}; }), [&](auto&, auto& d) {
        ASSERT_EQ(2u, d.MVszW.cValues);
        EXPECT_NE(w1, d.MVszW.lppszW[0]);
        EXPECT_STREQ(w1, d.MVszW.lppszW[0]);
        EXPECT_STREQ(w2, d.MVszW.lppszW[1]);
    });
    check("PT_MV_STRING8", value(PT_MV_STRING8, [&](auto& v) { v.MVszA = {2, ansis}; }), [&](auto&, auto& d) {
        ASSERT_EQ(2u, d.MVszA.cValues);
        EXPECT_STREQ("beta", d.MVszA.lppszA[1]);
        EXPECT_NE(a2, d.MVszA.lppszA[1]);
    });
    check("PT_MV_LONG", value(PT_MV_LONG, [&](auto& v) { v.MVl = {3, longs}; }), [&](auto&, auto& d) {
        ASSERT_EQ(3u, d.MVl.cValues);
        EXPECT_NE(longs, d.MVl.lpl);
        EXPECT_EQ(-2, d.MVl.lpl[1]);
    });
    check("PT_MV_I2", value(PT_MV_I2, [&](auto& v) { v.MVi = {2, shorts}; }),
          [&](auto&, auto& d) { EXPECT_EQ(-8, d.MVi.lpi[1]); });
    check("PT_MV_DOUBLE", value(PT_MV_DOUBLE, [&](auto& v) { v.MVdbl = {2, doubles}; }),
          [&](auto&, auto& d) { EXPECT_EQ(-1e300, d.MVdbl.lpdbl[1]); });
    check("PT_MV_BINARY", value(PT_MV_BINARY, [&](auto& v) { v.MVbin = {2, binaries}; }), [&](auto&, auto& d) {
        ASSERT_EQ(2u, d.MVbin.cValues);
        EXPECT_EQ(4u, d.MVbin.lpbin[0].cb);
        EXPECT_NE(bytes, d.MVbin.lpbin[0].lpb);
        EXPECT_EQ(0xFF, d.MVbin.lpbin[0].lpb[3]);
        EXPECT_EQ(0u, d.MVbin.lpbin[1].cb);
    });
    check("PT_MV_CLSID", value(PT_MV_CLSID, [&](auto& v) { v.MVguid = {2, guids}; }),
          [&](auto&, auto& d) { EXPECT_TRUE(IsEqualGUID(guid, d.MVguid.lpguid[0])); });
    check("unknown type", value(0x00FE, [](auto& v) { v.li.QuadPart = 99; }),
          [](auto&, auto& d) { EXPECT_EQ(0, d.li.QuadPart); });
}

TEST(RestrictionCopy, AFailedAllocationIsReportedEvenWhenLaterOnesSucceed)
{
    CTree tree;
    BYTE small[4] = {};
    SPropValue huge{};
    huge.ulPropTag = PROP_TAG(PT_BINARY, 0x6100);
    huge.Value.bin.cb = 0x7FFFFFF8; // more than MAPI hands out in one block
    huge.Value.bin.lpb = small;
    const SRestriction src = tree.And({tree.Property(RELOP_EQ, tree.Value(huge)), tree.Content(kSubject, L"later")});
    CRoot root;
    EXPECT_EQ(MAPI_E_NOT_ENOUGH_MEMORY, CopyRestriction(root.Get(), &src, root.Get(), nullptr));
    // What could not be copied is empty, what could is there.
    const SRestriction& failed = root.Get()->res.resAnd.lpRes[0];
    EXPECT_EQ(0u, failed.res.resProperty.lpProp->Value.bin.cb);
    EXPECT_EQ(nullptr, failed.res.resProperty.lpProp->Value.bin.lpb);
    EXPECT_TRUE(SameTree(src.res.resAnd.lpRes[1], root.Get()->res.resAnd.lpRes[1]));
}

TEST(RestrictionCopy, MissingPartsAreRefusedOrCopiedAsMissing)
{
    CRoot root;
    SRestriction andWithoutChildren{};
    andWithoutChildren.rt = RES_AND;
    andWithoutChildren.res.resAnd.cRes = 2;
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, CopyRestriction(root.Get(), &andWithoutChildren, root.Get(), nullptr));
    EXPECT_EQ(0u, root.Get()->res.resAnd.cRes);

    SRestriction empty[] = {{RES_NOT, {}}, {RES_COMMENT, {}}, {RES_SUBRESTRICTION, {}}, {RES_CONTENT, {}}};
    for (const SRestriction& src : empty) {
        SCOPED_TRACE(src.rt);
        EXPECT_EQ(S_OK, CopyRestriction(root.Get(), &src, root.Get(), nullptr));
        EXPECT_EQ(src.rt, root.Get()->rt);
        EXPECT_EQ(0, std::memcmp(&src.res, &root.Get()->res, sizeof(src.res)));
    }
    SRestriction any{};
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, CopyRestriction(nullptr, &any, root.Get(), nullptr));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, CopyRestriction(root.Get(), nullptr, root.Get(), nullptr));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, CopyRestriction(root.Get(), &any, nullptr, nullptr));
}

TEST(RestrictionCopy, TooManySubrestrictionsAreRefusedBeforeReachingNamedPropertyIds)
{
    CTree tree;
    std::vector<SRestriction> subs(kMaxSubRestrictions + 1, tree.Sub(kRecipients, tree.Content(kEmail, L"a")));
    const SRestriction src = tree.And(std::move(subs), RES_OR);
    CRoot root;
    SearchTagSet tags;
    SubRestrictionMap map;
    EXPECT_EQ(MAPI_E_TOO_COMPLEX, TranslateRestriction(root.Get(), &src, root.Get(), &tags, &map));
    ASSERT_EQ(kMaxSubRestrictions, map.size());
    EXPECT_EQ(0x7FFF000Bu, map.rbegin()->first);
    EXPECT_EQ(static_cast<LONG>(0x7FFF000B), *tags.rbegin());
    FreeSubRestrictionMap(map);
}

} // namespace
