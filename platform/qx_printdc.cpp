#include "platform/qx_printdc.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/qx_file.h"
#include "platform/qx_png.h"
#include "platform/qx_printer.h"
#include "platform/qx_psjob.h"

extern char** environ;

namespace {

std::atomic<int32_t> gJobs{0};

int32_t Fail(int32_t err) {
  PlatSetLastError(err);
  return -1;
}

class PrintTarget : public PlatDrawTarget {
 public:
  PrintTarget(const PlatPrinterInfo& p, bool landscape) : printer_(p), landscape_(landscape) {
    geo_.dpi = p.dpi;
    geo_.paperW = landscape ? p.paperH : p.paperW;
    geo_.paperH = landscape ? p.paperW : p.paperH;
    Cap(kPlatCapPhysicalOffsetX, &geo_.offsetX);
    Cap(kPlatCapPhysicalOffsetY, &geo_.offsetY);
    idle_ = PlatSurfaceCreate(1, 1, kPlatRgb32);
  }
  ~PrintTarget() override {
    PlatSurfaceDestroy(page_);
    PlatSurfaceDestroy(idle_);
  }
  PlatSurface* Surface() override { return page_ ? page_ : idle_; }
  bool DeviceCap(int32_t cap, int32_t* value) override {
    return PlatPrinterCapOf(printer_, landscape_, cap, value);
  }
  int32_t Cap(int32_t cap, int32_t* v = nullptr) {
    int32_t x = 0;
    PlatPrinterCapOf(printer_, landscape_, cap, &x);
    if (v) *v = x;
    return x;
  }

  int32_t StartDoc(const char* name) {
    if (job_) return Fail(kPlatErrInvalidParam);
    job_ = ++gJobs;
    title_ = name ? name : "";
    pages_.clear();
    pngs_.clear();
    return job_;
  }
  int32_t StartPage() {
    if (!job_ || page_) return Fail(kPlatErrInvalidParam);
    page_ = PlatSurfaceCreate(Cap(kPlatCapHorzRes), Cap(kPlatCapVertRes), kPlatRgb32);
    if (!page_) return Fail(kPlatErrNoMemory);
    PlatPsClearPage(page_);
    body_.clear();
    passOpen_ = false;
    band_ = 0;
    return 1;
  }
  int32_t EndPage() {
    if (!page_) return Fail(kPlatErrInvalidParam);
    if (printer_.postscript) {
      FlushRaster();
      ClosePass();
      pages_.push_back(body_);
    } else {
      std::vector<uint8_t> png;
      // A mono printer's pages are black and white: 1-bit PNGs.
      int32_t err = printer_.colour ? PlatPngWriteMemory(page_, &png) : PlatPngWriteMonoMemory(page_, &png);
      if (err) return Fail(err);
      pngs_.push_back(std::move(png));
      pages_.push_back(PlatPsImagePage(page_, geo_));
    }
    PlatSurfaceDestroy(page_);
    page_ = nullptr;
    body_.clear();
    return 1;
  }
  int32_t EndDoc() {
    if (!job_ || page_) return Fail(kPlatErrInvalidParam);
    int32_t job = job_;
    job_ = 0;
    std::string dir = printer_.output.empty() ? PlatPrintFolder() : printer_.output;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    std::string base = dir + "/job-" + std::to_string(job);
    for (size_t k = 0; k < pngs_.size(); ++k)
      if (!WriteAll(base + "-p" + std::to_string(k + 1) + ".png", pngs_[k].data(), pngs_[k].size()))
        return Fail(kPlatErrGeneral);
    std::string doc = PlatPsDocument(title_, geo_, pages_);
    pages_.clear();
    pngs_.clear();
    if (!WriteAll(base + ".ps", doc.data(), doc.size())) return Fail(kPlatErrGeneral);
    if (!printer_.command.empty() && !RunCommand(base + ".ps")) return Fail(kPlatErrGeneral);
    return 1;
  }
  int32_t AbortDoc() {
    if (!job_) return Fail(kPlatErrInvalidParam);
    job_ = 0;
    PlatSurfaceDestroy(page_);
    page_ = nullptr;
    pages_.clear();
    pngs_.clear();
    return 1;
  }

  int32_t Escape(int32_t esc, int32_t inCount, const void* in, void* out) {
    switch (esc) {
      case kPlatEscQuerySupport: {
        if (!in || inCount < 4) return Fail(kPlatErrInvalidParam);
        int32_t asked;
        std::memcpy(&asked, in, 4);
        return asked == kPlatEscNextBand || asked == kPlatEscBandInfo || asked == kPlatEscQuerySupport ||
               (asked == kPlatEscPassThrough && printer_.postscript);
      }
      case kPlatEscNextBand: {
        if (!out) return Fail(kPlatErrInvalidParam);
        if (!page_ && StartPage() < 1) return -1;
        PlatRect r{0, 0, 0, 0};
        if (band_ == 0) {
          r = PlatRect{0, 0, Cap(kPlatCapHorzRes), Cap(kPlatCapVertRes)};
          band_ = 1;
        } else if (EndPage() < 1) {
          return -1;
        }
        std::memcpy(out, &r, sizeof r);
        return 1;
      }
      case kPlatEscBandInfo: {
        if (out) {
          PlatBandInfo b{1, 1, PlatRect{0, 0, Cap(kPlatCapHorzRes), Cap(kPlatCapVertRes)}};
          std::memcpy(out, &b, sizeof b);
        }
        return 1;
      }
      case kPlatEscPassThrough: {
        if (!printer_.postscript) {
          PlatSetLastError(kPlatErrInvalidParam);
          return 0;
        }
        if (!page_ || !in || inCount < 2) return Fail(kPlatErrInvalidParam);
        uint16_t n;
        std::memcpy(&n, in, 2);
        if (n > inCount - 2) return Fail(kPlatErrInvalidParam);
        FlushRaster();
        if (!passOpen_) {
          body_ += PlatPsPieceOpen(geo_);
          passOpen_ = true;
        }
        body_.append(static_cast<const char*>(in) + 2, n);
        return n ? n : 1;
      }
      default:
        return 0;
    }
  }

 private:
  // Puts what was drawn since the last piece on the page as a raster piece,
  // closing a run of pass-through pieces first: pass-through pieces in a row
  // share one matrix block, so that text split over several escapes stays
  // one program.
  void FlushRaster() {
    std::string piece;
    if (!PlatPsRasterPiece(page_, geo_, !printer_.colour, &piece)) return;
    ClosePass();
    body_ += piece;
  }
  // Pass-through text may end without a line end.
  void ClosePass() {
    if (!passOpen_) return;
    body_ += "\ngrestore\n";
    passOpen_ = false;
  }
  static bool WriteAll(const std::string& path, const void* data, size_t n) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(static_cast<const char*>(data), std::streamsize(n));
    return bool(f.flush());
  }
  bool RunCommand(const std::string& ps) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, ps.c_str(), O_RDONLY, 0);
    const char* argv[] = {"/bin/sh", "-c", printer_.command.c_str(), nullptr};
    pid_t pid = 0;
    int rc = posix_spawn(&pid, "/bin/sh", &fa, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  PlatPrinterInfo printer_;
  bool landscape_;
  PlatPsGeometry geo_;
  PlatSurface* idle_ = nullptr;
  PlatSurface* page_ = nullptr;
  int32_t job_ = 0;
  int32_t band_ = 0;
  bool passOpen_ = false;
  std::string title_, body_;
  std::vector<std::string> pages_;
  std::vector<std::vector<uint8_t>> pngs_;
};

PrintTarget* TargetOf(PlatObj dc) {
  PrintTarget* t = dynamic_cast<PrintTarget*>(PlatDcTarget(dc));
  if (!t) PlatSetLastError(kPlatErrInvalidHandle);
  return t;
}

}  // namespace

std::string PlatPrintFolder() {
  if (const char* d = std::getenv("QX_PRINT_DIR"))
    if (*d) return d;
  std::error_code ec;
  std::filesystem::path tmp = std::filesystem::temp_directory_path(ec);
  return ((ec ? std::filesystem::path("/tmp") : tmp) / "qx-print").string();
}

PlatObj PlatCreatePrinterDc(const char* driver, const char* device, const char* port, PlatGlobal devMode) {
  PlatPrinterInfo p;
  if (!PlatFindPrinter(device, &p) || (driver && *driver && p.driver != driver) ||
      (port && *port && p.port != port)) {
    PlatSetLastError(kPlatErrInvalidParam);
    return 0;
  }
  bool landscape = false;
  if (devMode) {
    if (PlatGlobalSize(devMode) < sizeof(PlatDevMode)) {
      PlatSetLastError(kPlatErrInvalidParam);
      return 0;
    }
    const auto* m = static_cast<const PlatDevMode*>(PlatGlobalLock(devMode));
    if (!m) return 0;
    landscape = (m->fields & kPlatDmOrientation) && m->orientation == kPlatLandscape;
    PlatGlobalUnlock(devMode);
  }
  return PlatCreateOwnedTargetDc(new PrintTarget(p, landscape));
}

bool PlatIsPrinterDc(PlatObj dc) { return dynamic_cast<PrintTarget*>(PlatDcTarget(dc)) != nullptr; }

int32_t PlatStartDoc(PlatObj dc, const char* docName) {
  PrintTarget* t = TargetOf(dc);
  return t ? t->StartDoc(docName) : -1;
}
namespace {

int32_t Call(PlatObj dc, int32_t (PrintTarget::*fn)()) {
  PrintTarget* t = TargetOf(dc);
  return t ? (t->*fn)() : -1;
}

}  // namespace

int32_t PlatStartPage(PlatObj dc) { return Call(dc, &PrintTarget::StartPage); }
int32_t PlatEndPage(PlatObj dc) { return Call(dc, &PrintTarget::EndPage); }
int32_t PlatEndDoc(PlatObj dc) { return Call(dc, &PrintTarget::EndDoc); }
int32_t PlatAbortDoc(PlatObj dc) { return Call(dc, &PrintTarget::AbortDoc); }
int32_t PlatEscape(PlatObj dc, int32_t escape, int32_t inCount, const void* in, void* out) {
  PrintTarget* t = TargetOf(dc);
  return t ? t->Escape(escape, inCount, in, out) : -1;
}
