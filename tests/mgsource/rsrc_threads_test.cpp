// Many threads on one read-only resource file while files open and close.
#include <atomic>
#include <thread>

#include "rsrc_test_support.h"

using namespace rsrctest;
using rsrcw::BytesOf;

namespace {

class RsrcThreads : public RsrcTest {};

constexpr int kReaders = 8;
constexpr int kOwnIds = 6;

std::string Own(int thread, int k) { return "thread " + std::to_string(thread) + " resource " + std::to_string(k); }
std::string Entry(int list, int i) { return "list " + std::to_string(list) + " entry " + std::to_string(i); }

TEST_F(RsrcThreads, ConcurrentReadersAgreeWhileFilesOpenAndClose) {
  rsrcw::Writer w(kAPPL, kQNLX);
  for (int t = 0; t < kReaders; ++t)
    for (int k = 0; k < kOwnIds; ++k) w.Add(kTEXT, t * 100 + k, BytesOf(Own(t, k)));
  std::vector<std::string> strs, lstrs;
  for (int i = 1; i <= 40; ++i) strs.push_back(Entry(1, i));
  for (int i = 1; i <= 25; ++i) lstrs.push_back(Entry(2, i) + std::string(size_t(i), '+'));
  w.Add(rsrcfmt::kTypeStrList, 1, rsrcw::StrList(strs));
  w.Add(rsrcfmt::kTypeLStrList, 2, rsrcw::LStrList(lstrs));
  Put("shared.rsc", w.Write());
  rsrcw::Writer small(kAPPL, kQNLX);
  small.Add(kDATA, 1, BytesOf("small"));
  Put("small.rsc", small.Write());
  const Bytes smallBytes = small.Write();

  RsrcFileRef ref = Open("shared.rsc", kRsrcReadOnly);
  ASSERT_NE(ref, 0u);
  const int rounds = Scaled(300);
  std::atomic<int> failures{0};
  std::atomic<bool> done{false};
  std::vector<std::thread> readers;
  for (int t = 0; t < kReaders; ++t) {
    readers.emplace_back([&, t] {
      for (int r = 0; r < rounds; ++r) {
        const int k = r % kOwnIds;
        UHandle h = nullptr;
        if (RGet(ref, kTEXT, t * 100 + k, &h) != kNoErr || Text(h) != Own(t, k)) ++failures;
        if (h && RRelease(h) != kNoErr) ++failures;
        const int i = 1 + (r * 7 + t) % 40;
        Str255 s;
        if (RGetIndString(ref, s, 1, i) != kNoErr || Str(s) != Entry(1, i)) ++failures;
        const int j = 1 + (r * 5 + t) % 25;
        LStrHandle l = nullptr;
        if (RGetIndLStr(ref, &l, 2, j) != kNoErr) {
          ++failures;
        } else {
          std::string got(reinterpret_cast<const char*>((*l)->str), size_t((*l)->cnt));
          if (got != Entry(2, j) + std::string(size_t(j), '+')) ++failures;
          AZDisposeHandle(reinterpret_cast<UHandle>(l));
        }
      }
    });
  }
  std::thread opener([&] {
    Owned p(P("small.rsc"));
    while (!done.load()) {
      RsrcFileRef other = 0;
      if (ROpenFile(p, kRsrcReadOnly, &other, nullptr, nullptr) != kNoErr) {
        ++failures;
        continue;
      }
      UHandle h = nullptr;
      if (RGet(other, kDATA, 1, &h) != kNoErr || Text(h) != "small") ++failures;
      if (RCloseFile(other) != kNoErr) ++failures;
      RsrcFileRef image = OpenImage(smallBytes);
      if (!image || GetText(image, kDATA, 1) != "small" || RCloseFile(image) != kNoErr) ++failures;
    }
  });
  for (std::thread& th : readers) th.join();
  done.store(true);
  opener.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(RCloseFile(ref), kNoErr);
  EXPECT_EQ(Reports(), 0u);
}

}  // namespace
