// The extension query against the scripted GL double: exact-name matching
// over blank-separated lists, including the lists and names that trip up
// strstr-based and loop-based queries elsewhere.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "quarn.h"
#include "scripted_gl.h"

namespace {

GLboolean query(const char* list, const char* name) {
  scripted::reset();
  scripted::script().strings[GL_EXTENSIONS] = list;
  return query_gl_extension(name);
}

struct QueryCase {
  const char* label;
  const char* list;
  const char* name;
  GLboolean expected;
};

void PrintTo(const QueryCase& c, std::ostream* os) {
  *os << "list \"" << c.list << "\", name \"" << c.name << "\"";
}

class ExtensionQuery : public ::testing::TestWithParam<QueryCase> {};

// Catches a query that matches part of a name (a strstr without both
// boundary checks), misreads the list's ends, empty entries or separators,
// or ignores case.
TEST_P(ExtensionQuery, MatchesExactNamesOnly) {
  const QueryCase& c = GetParam();
  EXPECT_EQ(query(c.list, c.name), c.expected);
}

const QueryCase kQueryCases[] = {
    // An empty list holds nothing, not even the empty name.
    {"EmptyListEmptyName", "", "", GL_FALSE},
    {"EmptyListName", "", "GL_A", GL_FALSE},
    // First, middle and last names, with and without a blank at the end.
    {"FirstName", "GL_A GL_BB GL_CCC", "GL_A", GL_TRUE},
    {"MiddleName", "GL_A GL_BB GL_CCC", "GL_BB", GL_TRUE},
    {"LastName", "GL_A GL_BB GL_CCC", "GL_CCC", GL_TRUE},
    {"LastNameBlankAfter", "GL_A GL_BB GL_CCC ", "GL_CCC", GL_TRUE},
    // Heads and tails of advertised names, and names that extend them.
    {"HeadOfName", "GL_ARB_texture_float", "GL_ARB_texture", GL_FALSE},
    {"NameExtended", "GL_ARB_texture", "GL_ARB_texture_float", GL_FALSE},
    {"TailOfName", "GL_EXT_texture3D", "texture3D", GL_FALSE},
    {"NameInsideOthers", "XGL_A GL_AX", "GL_A", GL_FALSE},
    {"LongerAfterShorter", "GL_EXT_texture GL_EXT_texture3D",
     "GL_EXT_texture3D", GL_TRUE},
    // One blank at the end makes no empty entry; two, or one at the start,
    // or two in a row anywhere, do.
    {"OneTrailingBlankNoEmptyEntry", "GL_A ", "", GL_FALSE},
    {"NoEmptyEntry", "GL_A GL_B", "", GL_FALSE},
    {"TwoTrailingBlanksEmptyEntry", "GL_A  ", "", GL_TRUE},
    {"LeadingBlankEmptyEntry", " GL_A", "", GL_TRUE},
    {"TwoBlanksEmptyEntry", "GL_A  GL_B", "", GL_TRUE},
    {"BlankAloneEmptyEntry", " ", "", GL_TRUE},
    {"NameAfterEmptyEntries", " GL_A  GL_B", "GL_B", GL_TRUE},
    // Only the blank separates: a tab is part of a name.
    {"TabJoinsNames", "GL_A\tGL_B", "GL_A", GL_FALSE},
    {"TabInName", "GL_A\tGL_B", "GL_A\tGL_B", GL_TRUE},
    // A name holding a blank is never one entry.
    {"NameWithBlank", "GL_A GL_B", "GL_A GL_B", GL_FALSE},
    {"BlankName", "GL_A GL_B", " ", GL_FALSE},
    // Case matters; bytes above 0x7F are ordinary bytes.
    {"CaseDiffers", "GL_ARB_Foo", "GL_ARB_foo", GL_FALSE},
    {"HighBytesFirst", "\xff\x80 GL_A \xa0", "\xff\x80", GL_TRUE},
    {"HighBytesLast", "\xff\x80 GL_A \xa0", "\xa0", GL_TRUE},
    // The same name twice is found once.
    {"SameNameTwice", "GL_A GL_A", "GL_A", GL_TRUE},
};

INSTANTIATE_TEST_SUITE_P(Lists, ExtensionQuery,
                         ::testing::ValuesIn(kQueryCases),
                         [](const auto& tested) { return tested.param.label; });

// Catches a block scan that loses a blank or a token where it crosses from
// one block into the next, or at the short block at the end.
TEST(ExtensionQueryBlocks, FindsNamesWhereverTheyFallInTheList) {
  for (std::size_t pad = 0; pad < 150; ++pad) {
    SCOPED_TRACE("padding " + std::to_string(pad));
    const std::string word = std::string(pad, 'a') + " GL_target GL_z";
    EXPECT_EQ(query(word.c_str(), "GL_target"), GL_TRUE);
    EXPECT_EQ(query(word.c_str(), "GL_targe"), GL_FALSE);
    EXPECT_EQ(query(word.c_str(), "GL_z"), GL_TRUE);
    EXPECT_EQ(query(word.c_str(), std::string(pad, 'a').c_str()), GL_TRUE);
    const std::string blanks = std::string(pad, ' ') + "GL_target";
    EXPECT_EQ(query(blanks.c_str(), "GL_target"), GL_TRUE);
    EXPECT_EQ(query(blanks.c_str(), ""), pad > 0 ? GL_TRUE : GL_FALSE);
  }
}

// Catches a walk that loses its place over a list far longer than any
// driver's: the last of 20000 names is found, a missing one is not.
TEST(ExtensionQueryBlocks, WalksAVeryLongList) {
  std::string list;
  for (int i = 0; i < 20000; ++i)
    list += "GL_EXT_name_" + std::to_string(i) + " ";
  EXPECT_EQ(query(list.c_str(), "GL_EXT_name_19999"), GL_TRUE);
  EXPECT_EQ(query(list.c_str(), "GL_EXT_name_20000"), GL_FALSE);
  EXPECT_EQ(query(list.c_str(), "GL_EXT_name_1999"), GL_TRUE);
}

// Catches a crash, or a match, where there is no list or no name.
TEST(ExtensionQueryMissing, AnswersFalseForANullListOrName) {
  scripted::reset();
  EXPECT_EQ(query_gl_extension("GL_A"), GL_FALSE);
  EXPECT_EQ(query_gl_extension(""), GL_FALSE);
  EXPECT_EQ(query(nullptr, "GL_A"), GL_FALSE);
  EXPECT_EQ(query("GL_A  ", nullptr), GL_FALSE);
}

// Catches a query that caches the list: every call fetches it anew, once.
TEST(ExtensionQueryFetch, FetchesTheListOnEveryCall) {
  scripted::reset();
  scripted::script().strings[GL_EXTENSIONS] = "GL_A";
  EXPECT_EQ(query_gl_extension("GL_A"), GL_TRUE);
  scripted::script().strings[GL_EXTENSIONS] = "GL_B";
  EXPECT_EQ(query_gl_extension("GL_A"), GL_FALSE);
  EXPECT_EQ(
      scripted::calls(),
      (std::vector<std::string>{"glGetString(0x1F03)", "glGetString(0x1F03)"}));
}

}  // namespace
