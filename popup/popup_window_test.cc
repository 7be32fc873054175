// The popup's window loop in this process: the text it is able to draw, the
// state it keeps without a display, and, on a private Xvfb, a burst of
// messages from several threads and a message far too long for its area.
#include "popup/popup_window_loop.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "popup/popup_window.h"
#include "tests/test_support.h"
#include "tests/xvfb.h"

namespace quarrin {
namespace {

using namespace std::chrono_literals;
using testing::Rgb;
using testing::WindowPixels;

TEST(DisplayableTextTest, KeepsUtf8AndReplacesWhatCannotBeDrawn) {
  const std::string r = "\xEF\xBF\xBD";  // U+FFFD
  struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"", ""},
      {"Back in 5 minutes", "Back in 5 minutes"},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
      {"a+b%0A@x", "a+b%0A@x"},
      {"tab\there\nnext", "tab here\nnext"},
      {"crlf\r\nlone\rend", "crlf\nlone\nend"},
      {std::string("nul\0bell\x07" "del\x7F", 13), "nul" + r + "bell" + r + "del" + r},
      {"c1\xC2\x85x", "c1" + r + "x"},                 // NEL, a C1 control
      {"stray\x80\xBF", "stray" + r + r},              // continuation bytes without a lead
      {"bad lead \xC0\xAF\xF5\xFF", "bad lead " + r + r + r + r},
      {"overlong \xE0\x80\xAF", "overlong " + r + r + r},
      {"surrogate \xED\xA0\x80", "surrogate " + r + r + r},
      {"too high \xF4\x90\x80\x80", "too high " + r + r + r + r},
      {"cut \xE2\x82", "cut " + r},                    // truncated at the end
      {"cut \xE2\x82" "A", "cut " + r + "A"},          // truncated before ASCII
      {"cut \xF0\x9F\x98\xC3\xA9", "cut " + r + "\xC3\xA9"},
      {"latin-1 caf\xE9!", "latin-1 caf" + r + "!"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DisplayableText(c.in), c.out) << "input: " << c.in;
  }
}

TEST(WrapLinesTest, BreaksAtBlanksAndKeepsLongWordsWhole) {
  // One pixel a byte makes the widths easy to read.
  auto bytes = [](std::string_view s) { return static_cast<double>(s.size()); };
  struct {
    std::string paragraph;
    int width;
    size_t max_lines;
    std::vector<std::string> lines;
  } cases[] = {
      {"", 10, 9, {""}},
      {"short", 10, 9, {"short"}},
      {"one two three four", 9, 9, {"one two", "three", "four"}},
      {"one two three four", 9, 2, {"one two", "three"}},
      {"exactly10 next", 9, 9, {"exactly10", "next"}},
      {"a  b   c", 4, 9, {"a  b", "c"}},
      {"  lead and trail  ", 9, 9, {"  lead", "and trail"}},
      {"x " + std::string(30, 'W') + " y", 9, 9, {"x", std::string(30, 'W'), "y"}},
      {"     ", 3, 9, {"     "}},
  };
  for (const auto& c : cases) {
    std::vector<std::string_view> lines = WrapLines(c.paragraph, c.width, c.max_lines, bytes);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.end()), c.lines)
        << "paragraph: '" << c.paragraph << "' width " << c.width;
  }
}

PopupMessage Message(const std::string& from, const std::string& text) {
  return {"Quarrin 1.2.3.4", "01/02/03 04:05:06.789", from, text};
}

TEST(PopupWindowLoopTest, WithoutADisplayKeepsTheStateAndShowsNothing) {
  testing::ScopedEnv no_display("DISPLAY", "");
  PopupWindowLoop loop;
  std::thread other([&] {
    loop.Create();
    EXPECT_FALSE(loop.shown());
    loop.Show(Message("10.0.0.1", "one"));
    EXPECT_TRUE(loop.shown());
    loop.Hide();
    EXPECT_FALSE(loop.shown());
    loop.Show(Message("10.0.0.2", "two"));
    EXPECT_TRUE(loop.shown());
    loop.Quit();
  });
  loop.Run();
  other.join();
  EXPECT_FALSE(loop.has_display());
  EXPECT_EQ(loop.form(), nullptr);
  EXPECT_TRUE(loop.shown());
}

// One Xvfb for the whole process, stopped when it exits: FLTK keeps one
// display connection for the life of the process.
const std::string& SharedDisplay() {
  static testing::XvfbServer server;
  return server.display();
}

class PopupOnXvfbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::OnPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
    ASSERT_FALSE(SharedDisplay().empty()) << "Xvfb did not start";
    display_env_ = std::make_unique<testing::ScopedEnv>("DISPLAY", SharedDisplay());
    probe_ = XOpenDisplay(SharedDisplay().c_str());
    ASSERT_NE(probe_, nullptr);
  }
  void TearDown() override {
    if (probe_) XCloseDisplay(probe_);
  }

  // Runs the loop on this thread while `other` drives it from another one;
  // `other` ends with Quit.
  template <typename Body>
  void RunLoopWith(PopupWindowLoop& loop, Body other) {
    std::thread t([&] {
      other();
      loop.Quit();
    });
    loop.Run();
    t.join();
  }

  std::unique_ptr<testing::ScopedEnv> display_env_;
  Display* probe_ = nullptr;
};

TEST_F(PopupOnXvfbTest, BurstFromManyThreadsLeavesOneWindowWithTheLatestMessage) {
  PopupWindowLoop loop;
  RunLoopWith(loop, [&] {
    loop.Create();
    std::vector<std::thread> senders;
    for (int t = 0; t < 4; ++t) {
      senders.emplace_back([&loop, t] {
        for (int i = 0; i < 2500; ++i) {
          loop.Show(Message("10.0.0." + std::to_string(t), std::string(2000, static_cast<char>('a' + t)) + " " +
                                                              std::to_string(i)));
        }
      });
    }
    for (auto& s : senders) s.join();
    loop.Show(Message("10.9.9.9", "the last one"));
    EXPECT_NE(testing::WaitForSoleWindow(
                  probe_, "Quarrin", "_QUARRIN_POPUP_MESSAGE",
                  [](const std::string& shown) { return shown == "the last one"; }, 5s),
              0u);
  });
  ASSERT_TRUE(loop.has_display());
  ASSERT_NE(loop.form(), nullptr);
  EXPECT_EQ(loop.form()->from_text(), "10.9.9.9");
  EXPECT_EQ(loop.form()->message_text(), "the last one");
  EXPECT_TRUE(loop.form()->timer_on());
  EXPECT_TRUE(loop.shown());
}

TEST_F(PopupOnXvfbTest, ANewerMessageReplacesEveryTraceOfTheOlder) {
  const Rgb face{212, 208, 200};
  const Rgb white{255, 255, 255};
  PopupWindowLoop loop;
  RunLoopWith(loop, [&] {
    loop.Show({"Quarrin 1.2.3.4", "31/12/99 23:59:59.999", "255.255.255.255",
               "A first message long enough to fill two lines of the message area, "
               "and then some more words"});
    ASSERT_NE(testing::WaitForSoleWindow(
                  probe_, "Quarrin", "_QUARRIN_POPUP_FROM",
                  [](const std::string& from) { return from == "255.255.255.255"; }, 5s),
              0u);
    std::this_thread::sleep_for(200ms);  // drawn
    loop.Show({"Quarrin 1.2.3.4", "1/1/00 0:00:00.000", "1.1.1.1", "Short"});
    const Window popup = testing::WaitForSoleWindow(
        probe_, "Quarrin", "_QUARRIN_POPUP_FROM",
        [](const std::string& from) { return from == "1.1.1.1"; }, 5s);
    ASSERT_NE(popup, 0u);
    std::this_thread::sleep_for(300ms);  // drawn
    WindowPixels pixels(probe_, popup);
    ASSERT_TRUE(pixels.valid());
    // The shorter texts leave nothing of the longer ones to their right or
    // below them.
    EXPECT_EQ(pixels.CountUnlike(72 + 110, 4, 153 - 110, 13, face), 0);
    EXPECT_EQ(pixels.CountUnlike(72 + 50, 24, 261 - 50, 13, face), 0);
    EXPECT_EQ(pixels.CountUnlike(8 + 60, 44, 425 - 60, 125, white), 0);
    EXPECT_EQ(pixels.CountUnlike(8, 44 + 20, 425, 125 - 20, white), 0);
  });
}

TEST_F(PopupOnXvfbTest, LongMessagesWithBadBytesStayInsideTheMessageArea) {
  std::string words;
  while (words.size() < 10000) words += "wrapped words \x01\xFF ";
  const std::string unbroken(10000, 'W');
  const Rgb face{212, 208, 200};
  const Rgb white{255, 255, 255};
  for (const std::string& text : {words, unbroken}) {
    PopupWindowLoop loop;
    RunLoopWith(loop, [&] {
      loop.Show(Message("10.0.0.1", text));
      const Window popup = testing::WaitForSoleWindow(
          probe_, "Quarrin", "_QUARRIN_POPUP_MESSAGE",
          // This loop's window, not the previous one on its way out.
          [&](const std::string& shown) { return shown.rfind(text.substr(0, 7), 0) == 0; }, 5s);
      ASSERT_NE(popup, 0u);
      // Drawn: the message area's last row is white (a slow build, under
      // ThreadSanitizer say, may take longer than a moment).
      EXPECT_TRUE(testing::WaitUntil(
          [&] {
            WindowPixels drawn(probe_, popup);
            return drawn.valid() && drawn.At(8, 168) == white;
          },
          5s));
      std::this_thread::sleep_for(300ms);  // all of it
      WindowPixels pixels(probe_, popup);
      ASSERT_TRUE(pixels.valid());
      // Ink inside the message area, none of it spilling to its right or
      // below it, and the area's own background where the text ends short.
      EXPECT_GT(pixels.CountUnlike(8, 44, 425, 125, white), 200);
      EXPECT_EQ(pixels.CountUnlike(433, 44, 8, 132, face), 0);
      EXPECT_EQ(pixels.CountUnlike(8, 169, 188, 35, face), 0);
      EXPECT_EQ(pixels.At(8, 168), white);
    });
    ASSERT_NE(loop.form(), nullptr);
    EXPECT_EQ(loop.form()->message_text(), DisplayableText(text));
  }
}

}  // namespace
}  // namespace quarrin
