#include "orvelle/text.hpp"

#include <gtest/gtest.h>

#include "orvelle/value.hpp"

namespace orvelle {
namespace {

TEST(Text, HoldsInlineAndHeapTextsExactly) {
  // 15 bytes is the last inline length, 16 the first heap one.
  for (const std::size_t length : {0, 1, 14, 15, 16, 17, 1000}) {
    std::string bytes(length, 'x');
    if (length > 2) bytes[length / 2] = '\0';
    const Text text(bytes);
    Text copy = text;
    Text moved = std::move(copy);
    copy = moved;
    copy = copy;
    for (const Text* t : std::initializer_list<const Text*>{&text, &copy, &moved}) {
      EXPECT_EQ(t->view(), bytes) << length;
      EXPECT_EQ(t->size(), length);
    }
    const Value value(bytes);
    EXPECT_EQ(value.as_string(), bytes) << length;
    EXPECT_EQ(value, Value(text));
    EXPECT_NE(value, Value(bytes + "y"));
  }
  EXPECT_LT(Text("in10"), "in2");
}

TEST(Utf8, AcceptsWellFormedRejectsMalformed) {
  EXPECT_TRUE(is_valid_utf8("plain ascii text, long enough for the fast path"));
  EXPECT_TRUE(is_valid_utf8("\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"));
  const char* bad[] = {"\xC3", "\xC0\xAF",    "\xED\xA0\x80", "\xF4\x90\x80\x80",
                       "\xFF", "abcdefgh\x80"};
  for (const char* text : bad) EXPECT_FALSE(is_valid_utf8(text)) << "for " << text;
}

}  // namespace
}  // namespace orvelle
