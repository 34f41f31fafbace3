// The command line's text conversions that the window's QString functions do not cover.
// (Command texts and record decoding are pinned through those functions' own tests.)
#include "protocol/protocol_text.h"

#include <gtest/gtest.h>

namespace rd::proto {
namespace {

TEST(ProtocolText, Utf8ToUtf16KeepsCharactersAndReplacesBrokenBytes) {
    struct Case {
        std::string utf8;
        std::u16string utf16;
    } cases[] = {
        {"", u""},
        {"VERSION", u"VERSION"},
        {"\xC3\xA9\xE2\x82\xAC", u"\u00E9\u20AC"},         // two and three bytes
        {"a\xF0\x9F\x93\xA1z", u"a\U0001F4E1z"},           // four bytes: a surrogate pair
        {"\x80x", u"\uFFFDx"},                             // a lone continuation byte
        {"\xC3", u"\uFFFD"},                               // cut short at the end
        {"\xE2\x82x", u"\uFFFD\uFFFDx"},                   // cut short before an ASCII byte
        {"\xC0\x80", u"\uFFFD\uFFFD"},                     // an overlong NUL
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},           // an encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"}, // past U+10FFFF
        {"\xFF", u"\uFFFD"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16) << c.utf8;
}

} // namespace
} // namespace rd::proto
