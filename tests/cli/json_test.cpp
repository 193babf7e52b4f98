#include "cli/json.h"

#include <gtest/gtest.h>

#include <string>

namespace pelliton::cli {
namespace {

struct EscapeCase {
  const char* name;
  std::string input;
  std::string expected;
};

class JsonEscape : public testing::TestWithParam<EscapeCase> {};

TEST_P(JsonEscape, Escapes) {
  EXPECT_EQ(JsonString(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, JsonEscape,
    testing::Values(
        EscapeCase{"Empty", "", R"("")"},
        EscapeCase{"Plain", "Download APP Successfull!", R"("Download APP Successfull!")"},
        EscapeCase{"QuoteAndBackslash", "a\"b\\c", R"("a\"b\\c")"},
        EscapeCase{"WindowLineBreaks", "\r\n\r\nAPP Loading......",
                   R"("\r\n\r\nAPP Loading......")"},
        EscapeCase{"ShortEscapes", "\b\f\t", R"("\b\f\t")"},
        EscapeCase{"OtherControls", std::string("\x01\x1f\x7f", 3), R"("\u0001\u001f\u007f")"},
        EscapeCase{"Nul", std::string("a\0b", 3), R"("a\u0000b")"},
        EscapeCase{"SlashUntouched", "a/b", R"("a/b")"},
        EscapeCase{"ChineseKept", "“请填入一个正整数。”", "\"“请填入一个正整数。”\""},
        EscapeCase{"FourByteKept", "\xF0\x9F\x92\xB3", "\"\xF0\x9F\x92\xB3\""},
        EscapeCase{"LoneContinuation", "a\x80z", R"("a\ufffdz")"},
        EscapeCase{"Latin1Byte", "caf\xE9", R"("caf\ufffd")"},
        EscapeCase{"TruncatedAtEnd", "x\xE4\xB8", R"("x\ufffd\ufffd")"},
        EscapeCase{"OverlongNul", "\xC0\x80", R"("\ufffd\ufffd")"},
        EscapeCase{"OverlongThreeByte", "\xE0\x80\xAF", R"("\ufffd\ufffd\ufffd")"},
        EscapeCase{"Surrogate", "\xED\xA0\x80", R"("\ufffd\ufffd\ufffd")"},
        EscapeCase{"AboveUnicode", "\xF4\x90\x80\x80", R"("\ufffd\ufffd\ufffd\ufffd")"},
        EscapeCase{"ByteFF", "\xFF", R"("\ufffd")"}),
    [](const testing::TestParamInfo<EscapeCase>& info) { return info.param.name; });

TEST(JsonWriter, PlacesCommasInNestedContainers) {
  JsonWriter json;
  json.BeginObject();
  json.Key("a");
  json.Number(-1);
  json.Key("b");
  json.BeginArray();
  json.String("x");
  json.BeginObject();
  json.Key("c");
  json.Null();
  json.EndObject();
  json.Bool(false);
  json.EndArray();
  json.Key("d");
  json.StringArray({});
  json.Key("e");
  json.StringArray({"p", "q"});
  json.EndObject();
  EXPECT_EQ(json.Text(), R"({"a":-1,"b":["x",{"c":null},false],"d":[],"e":["p","q"]})");
}

}  // namespace
}  // namespace pelliton::cli
