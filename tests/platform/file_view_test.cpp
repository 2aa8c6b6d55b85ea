// File views: the bytes seen in place, and a file cut under its view.
#include "platform/file_view.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "support/test_files.h"

namespace {

constexpr std::size_t kPage = 4096;

std::string pattern(std::size_t bytes) {
  std::string text(bytes, '\0');
  for (std::size_t i = 0; i < bytes; ++i) text[i] = static_cast<char>('a' + i % 23);
  return text;
}

class FileViewTest : public ::testing::Test {
 protected:
  std::FILE* open_pattern(std::size_t bytes) {
    m_text = pattern(bytes);
    const std::string path = e2e::write_file(m_temp.path() / "data", m_text);
    m_file = std::fopen(path.c_str(), "r+b");
    return m_file;
  }
  void TearDown() override {
    if (m_file != nullptr) std::fclose(m_file);
  }

  e2e::TempDir m_temp;
  std::string m_text;
  std::FILE* m_file = nullptr;
};

TEST_F(FileViewTest, SeesTheBytesFromAnyOffsetWithReadableSlackAfterAPageAlignedEnd) {
  std::FILE* file = open_pattern(3 * kPage);
  platform::FileView view;
  ASSERT_TRUE(view.map(file, 100, 3 * kPage - 100, 64));
  ASSERT_EQ(view.size(), 3 * kPage - 100);
  EXPECT_TRUE(view.bring_in(0, view.size()));
  EXPECT_EQ(std::string(view.data(), view.size()), m_text.substr(100));
  // The file ends on a page boundary; the slack after it must not fault.
  volatile char past = view.data()[view.size() + 63];
  (void)past;
  view.let_go_before(view.size());
  EXPECT_EQ(view.data()[view.size() - 1], m_text.back());
  EXPECT_FALSE(view.lost());
}

TEST_F(FileViewTest, ACutFileReadsZerosAndSaysSoInsteadOfEndingTheProcess) {
  std::FILE* file = open_pattern(64 * kPage);
  platform::FileView view;
  ASSERT_TRUE(view.map(file, 0, 64 * kPage, 64));
  ASSERT_TRUE(view.bring_in(0, kPage));
  ASSERT_EQ(::ftruncate(::fileno(file), kPage), 0);
  EXPECT_FALSE(view.bring_in(10 * kPage, kPage));
  EXPECT_FALSE(view.lost());
  EXPECT_EQ(view.data()[10 * kPage + 5], '\0');
  EXPECT_TRUE(view.lost());
  EXPECT_EQ(view.data()[7], m_text[7]);

  // A view of the file as it is now starts clean.
  platform::FileView again;
  ASSERT_TRUE(again.map(file, 0, kPage, 64));
  EXPECT_EQ(again.data()[kPage - 1], m_text[kPage - 1]);
  EXPECT_FALSE(again.lost());
}

TEST_F(FileViewTest, AFaultOutsideEveryViewStillEndsTheProcess) {
  std::FILE* file = open_pattern(4 * kPage);
  platform::FileView view;
  ASSERT_TRUE(view.map(file, 0, 4 * kPage, 64));  // the handler is in place
  void* plain = ::mmap(nullptr, 4 * kPage, PROT_READ, MAP_PRIVATE, ::fileno(file), 0);
  ASSERT_NE(plain, MAP_FAILED);
  ASSERT_EQ(::ftruncate(::fileno(file), kPage), 0);
  // Ended by the signal itself, or by the handler that was there before
  // (a sanitizer's, which reports and aborts).
  EXPECT_DEATH(
      {
        volatile char byte = static_cast<const char*>(plain)[3 * kPage];
        (void)byte;
        std::exit(0);
      },
      "");
  ::munmap(plain, 4 * kPage);
}

}  // namespace
