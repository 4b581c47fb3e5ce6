// The one UTF-8 codec, text from cameras and the web made safe for one log line, the small
// string helpers, and the stoppable wait of reading threads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "platform/foundation/Log.h"
#include "platform/foundation/PollWaker.h"
#include "platform/foundation/Strings.h"
#include "platform/foundation/TextCharacters.h"

using foundation::escapedForLog;
namespace text = foundation::text;

TEST(Utf8, OnlyWellFormedSequencesAreValid) {
    EXPECT_TRUE(text::isValidUtf8(""));
    EXPECT_TRUE(text::isValidUtf8("A\xC2\x80\xE2\x82\xAC\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"));
    for (const char* bad : {"\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xED\xBF\xBF",
                            "\xF0\x80\x80\xAF", "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF",
                            "\x80", "\xE2\x82", "\xF0\x9F\x98"}) {
        EXPECT_FALSE(text::isValidUtf8(bad)) << testing::PrintToString(std::string(bad));
    }
}

TEST(Utf8, EachMaximalInvalidSubpartIsOneReplacement) {
    EXPECT_EQ(text::characters("a\xE2\x82z"), U"a\uFFFDz");      // cut short: one for both bytes
    EXPECT_EQ(text::characters("\xED\xA0\x80"), U"\uFFFD\uFFFD\uFFFD");  // surrogate: byte by byte
    const auto s = text::decodeAt("\xF0\x9F\x98\x80!", 0);
    EXPECT_TRUE(s.valid);
    EXPECT_EQ(s.character, U'\U0001F600');
    EXPECT_EQ(s.length, 4u);
    const auto cut = text::decodeAt("\xF0\x9F\x98", 0);
    EXPECT_FALSE(cut.valid);
    EXPECT_EQ(cut.length, 3u);
}

TEST(LogEscaping, LineBreaksControlsAndInvalidBytesBecomeEscapes) {
    EXPECT_EQ(escapedForLog("HVB R7 \xE2\x82\xAC"), "HVB R7 \xE2\x82\xAC");  // printable text stays
    EXPECT_EQ(escapedForLog("a\nb\rc\td"), "a\\nb\\rc\\td");
    EXPECT_EQ(escapedForLog(std::string("\x00\x1B\x7F", 3)), "\\x00\\x1B\\x7F");
    EXPECT_EQ(escapedForLog("\xC0\xAF"), "\\xC0\\xAF");
    EXPECT_EQ(escapedForLog("\xE2\x82"), "\\xE2\\x82");
    // An escape in the input cannot pass for one of ours.
    EXPECT_EQ(escapedForLog("\\n"), "\\\\n");
    // C1 controls, line separators and direction overrides.
    EXPECT_EQ(escapedForLog("\xC2\x85"), "\\u{0085}");
    EXPECT_EQ(escapedForLog("\xE2\x80\xA8"), "\\u{2028}");
    EXPECT_EQ(escapedForLog("x\xE2\x80\xAEy"), "x\\u{202E}y");
}

TEST(LogEscaping, EscapedTextIsOneLineOfValidUtf8) {
    std::string every;
    for (int b = 0; b < 256; ++b) every.push_back(static_cast<char>(b));
    const std::string out = escapedForLog(every + every);
    EXPECT_TRUE(text::isValidUtf8(out));
    EXPECT_EQ(out.find_first_of(std::string("\n\r\0", 3)), std::string::npos);
}

TEST(Strings, TrimmedDropsOnlyOuterWhiteSpace) {
    EXPECT_EQ(foundation::trimmed(" \t\r\n a b \v\f"), "a b");
    EXPECT_EQ(foundation::trimmed("   "), "");
    EXPECT_EQ(foundation::trimmed(""), "");
    EXPECT_EQ(foundation::trimmed("\xC2\xA0x"), "\xC2\xA0x");  // no-break space is text, not white space
}

TEST(Strings, SplitKeepsEmptyPieces) {
    using Parts = std::vector<std::string>;
    EXPECT_EQ(foundation::splitKeepingEmpty("1.6.00", '.'), (Parts{"1", "6", "00"}));
    EXPECT_EQ(foundation::splitKeepingEmpty("a..b.", '.'), (Parts{"a", "", "b", ""}));
    EXPECT_EQ(foundation::splitKeepingEmpty("", '.'), (Parts{""}));
    EXPECT_EQ(foundation::splitKeepingEmpty("-", '-'), (Parts{"", ""}));
}

TEST(PollWaker, AWakeEndsTheWaitAndAReadableDescriptorIsReported) {
    foundation::PollWaker waker;
    ASSERT_TRUE(waker.ok());
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::thread other([&] { waker.wake(); });
    EXPECT_EQ(waker.wait(fds[0]), foundation::PollWaker::Result::woken);
    other.join();
    EXPECT_EQ(waker.wait(fds[0]), foundation::PollWaker::Result::woken);  // it stays woken

    foundation::PollWaker fresh;
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    EXPECT_EQ(fresh.wait(fds[0]), foundation::PollWaker::Result::readable);
    ::close(fds[0]);
    ::close(fds[1]);
}
