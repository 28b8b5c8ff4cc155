// The extension query against the scripted GL double: exact-name matching
// over blank-separated lists, including the lists and names that trip up
// strstr-based and loop-based queries elsewhere.
#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "captured_stream.h"

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
      (std::vector<std::string>{"glGetString(0x1F02)", "glGetString(0x1F03)",
                                "glGetString(0x1F02)", "glGetString(0x1F03)"}));
}

// Where a context keeps its list, and the queries that find it out: V, F, P
// and N for glGetString(GL_VERSION) and glGetIntegerv of the context flags,
// the profile mask and the number of entries, I for one glGetStringi, S for
// glGetString(GL_EXTENSIONS).
struct ContextCase {
  const char* label;
  const char* version;
  GLint flags;
  GLint profile;
  std::vector<const char*> entries;
  bool wholeString;  // else indexed
  const char* callsOfOneQuery;
};

void PrintTo(const ContextCase& c, std::ostream* os) {
  *os << c.label;
}

std::string call_letters() {
  const std::map<std::string, char> letters = {{"glGetString(0x1F02)", 'V'},
                                               {"glGetIntegerv(0x821E)", 'F'},
                                               {"glGetIntegerv(0x9126)", 'P'},
                                               {"glGetIntegerv(0x821D)", 'N'},
                                               {"glGetString(0x1F03)", 'S'}};
  std::string text;
  for (const std::string& call : scripted::calls()) {
    text += call.starts_with("glGetStringi(") ? 'I' : letters.at(call);
  }
  return text;
}

class ExtensionListRule : public ::testing::TestWithParam<ContextCase> {};

// Catches the whole string asked of a context that lists by index (null,
// and an error recorded, in core and forward-compatible contexts), the
// indexed list asked of one that has the string, and a query not yet valid
// in the context as far as it is known.
TEST_P(ExtensionListRule, ReadsTheListWhereTheContextKeepsIt) {
  const ContextCase& c = GetParam();
  scripted::reset();
  scripted::script().strings = {{GL_VERSION, c.version},
                                {GL_EXTENSIONS, "GL_W"}};
  scripted::script().integers = {{GL_CONTEXT_FLAGS, c.flags},
                                 {GL_CONTEXT_PROFILE_MASK, c.profile}};
  scripted::script().indexed = c.entries;
  EXPECT_EQ(query_gl_extension("GL_W"), c.wholeString ? GL_TRUE : GL_FALSE);
  EXPECT_EQ(call_letters(), c.callsOfOneQuery);
  EXPECT_EQ(query_gl_extension("GL_I"), c.wholeString ? GL_FALSE : GL_TRUE);

  CapturedStdout out;
  display_gl_env();
  const std::string expected = c.wholeString ? "GL_W" : "GL_I";
  EXPECT_TRUE(out.text().ends_with("OpenGL Extensions: " + expected + "\n"))
      << out.text();
}

constexpr GLint kForwardCompatible = GL_CONTEXT_FLAG_FORWARD_COMPATIBLE_BIT;
constexpr GLint kCore = GL_CONTEXT_CORE_PROFILE_BIT;
constexpr GLint kCompatibility = GL_CONTEXT_COMPATIBILITY_PROFILE_BIT;

const ContextCase kContextCases[] = {
    {"NullVersion", nullptr, 0, 0, {"GL_I"}, true, "VS"},
    {"Es",
     "OpenGL ES 3.2 Mesa 22.3.6",
     kForwardCompatible,
     kCore,
     {"GL_I"},
     true,
     "VS"},
    {"Legacy21", "2.1 Mesa 22.3.6", 0, 0, {"GL_I"}, true, "VS"},
    {"Unparsable", "OpenGL 4.5", 0, 0, {"GL_I"}, true, "VS"},
    {"Plain30", "3.0 Mesa 22.3.6", 0, 0, {"GL_I"}, true, "VFS"},
    {"ForwardCompatible30",
     "3.0 Mesa 22.3.6",
     kForwardCompatible,
     0,
     {"GL_I"},
     false,
     "VFNI"},
    {"Compatible31",
     "3.1 Mesa 22.3.6",
     0,
     0,
     {"GL_I", "GL_ARB_compatibility"},
     true,
     "VFNIIS"},
    {"Core31", "3.1 Mesa 22.3.6", 0, 0, {"GL_I"}, false, "VFNINI"},
    {"Core45",
     "4.5 (Core Profile) Mesa 22.3.6",
     0,
     kCore,
     {"GL_I", nullptr},
     false,
     "VFPNII"},
    {"Compatibility45",
     "4.5 (Compatibility Profile) Mesa 22.3.6",
     0,
     kCompatibility,
     {"GL_I"},
     true,
     "VFPS"},
    {"NoProfile45", "4.5", 0, 0, {"GL_I"}, false, "VFPNINI"},
};

INSTANTIATE_TEST_SUITE_P(Contexts, ExtensionListRule,
                         ::testing::ValuesIn(kContextCases),
                         [](const auto& tested) { return tested.param.label; });

}  // namespace
