/* A user-mode emulator plugin that counts the guest instructions run
 * between calls of two marker functions, for machines where the i386
 * programs only run emulated and no instruction-level profiler works.
 *
 *   qemu-i386 -plugin ./libinsncount.so,begin=QxInsnMarkBegin,end=QxInsnMarkEnd prog
 *
 * Every translated block is counted by its length when it runs while the
 * thread is between a begin and an end; at exit the plugin prints the number
 * of windows, the instructions in them and the mean per window. */
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <qemu-plugin.h>

QEMU_PLUGIN_EXPORT int qemu_plugin_version = QEMU_PLUGIN_VERSION;

enum { kMaxThreads = 1024 };

static const char* gBegin = "QxInsnMarkBegin";
static const char* gEnd = "QxInsnMarkEnd";
static unsigned char gOn[kMaxThreads];
static uint64_t gCount[kMaxThreads];
static uint64_t gWindows[kMaxThreads];

static int gDepth[kMaxThreads];
static void OnBegin(unsigned int cpu, void* udata) {
  (void)udata;
  cpu %= kMaxThreads;
  gDepth[cpu] = 0;
  gOn[cpu] = 1;
  gWindows[cpu]++;
}

static void OnEnd(unsigned int cpu, void* udata) {
  (void)udata;
  gOn[cpu % kMaxThreads] = 0;
}

/* What a block charges: its length and its function's slot. */
typedef struct Block {
  uint64_t insns;
  int slot;
  const char* sym;
  int ends;  // 1 in a call, 2 in a return
  int page;  // the page's slot when the block has no symbol, else -1
} Block;

enum { kMaxSyms = 1 << 16 };
static int gTop;
static const char* gSymName[kMaxSyms];
static uint64_t gSymCount[kMaxSyms];
static int gSyms;
static const char* gCallee;
static const char* gLastSym[kMaxThreads];
static int gLastEnds[kMaxThreads];
static uint64_t gCallerCount[kMaxSyms];
static int gInclusive;
static int gUnknownTop;
enum { kMaxPages = 1 << 16 };
static uint64_t gPageAddr[kMaxPages];
static uint64_t gPageCount[kMaxPages];

/* The slot of a code page (open addressing on the page number). */
static int PageSlot(uint64_t page) {
  uint32_t h = (uint32_t)(page * 2654435761u) & (kMaxPages - 1);
  for (int probes = 0; probes < kMaxPages; ++probes, h = (h + 1) & (kMaxPages - 1)) {
    if (gPageAddr[h] == page + 1) return (int)h;
    if (!gPageAddr[h]) {
      gPageAddr[h] = page + 1;
      return (int)h;
    }
  }
  return 0;
}
enum { kMaxDepth = 512 };
static int gStack[kMaxThreads][kMaxDepth];
static uint64_t gSeen[kMaxSyms];
static uint64_t gSerial;

/* The slot of a function name (names are the emulator's own, stable strings). */
static int SymSlot(const char* name) {
  if (!name) name = "?";
  uint32_t h = (uint32_t)((uintptr_t)name * 2654435761u) & (kMaxSyms - 1);
  for (int probes = 0; probes < kMaxSyms; ++probes, h = (h + 1) & (kMaxSyms - 1)) {
    if (gSymName[h] == name) return (int)h;
    if (!gSymName[h]) {
      gSymName[h] = name;
      gSyms++;
      return (int)h;
    }
  }
  return 0;
}

static void OnBlock(unsigned int cpu, void* udata) {
  cpu %= kMaxThreads;
  if (!gOn[cpu]) return;
  const Block* b = (const Block*)udata;
  gCount[cpu] += b->insns;
  if (b->page >= 0) gPageCount[b->page] += b->insns;
  if (gTop && !gInclusive) gSymCount[b->slot] += b->insns;
  if (gInclusive) {
    ++gSerial;
    gSymCount[b->slot] += b->insns;
    gSeen[b->slot] = gSerial;
    const int depth = gDepth[cpu] < kMaxDepth ? gDepth[cpu] : kMaxDepth;
    for (int i = 0; i < depth; ++i) {
      const int slot = gStack[cpu][i];
      if (gSeen[slot] == gSerial) continue;
      gSeen[slot] = gSerial;
      gSymCount[slot] += b->insns;
    }
    if (b->ends == 1) {
      if (gDepth[cpu] < kMaxDepth) gStack[cpu][gDepth[cpu]] = b->slot;
      gDepth[cpu]++;
    } else if (b->ends == 2 && gDepth[cpu] > 0) {
      gDepth[cpu]--;
    }
  }
  if (gCallee) {
    if (gLastEnds[cpu] != 2 && b->sym != gLastSym[cpu] && b->sym && strcmp(b->sym, gCallee) == 0)
      gCallerCount[SymSlot(gLastSym[cpu])]++;
    gLastSym[cpu] = b->sym;
    gLastEnds[cpu] = b->ends;
  }
}

static void OnTranslate(qemu_plugin_id_t id, struct qemu_plugin_tb* tb) {
  (void)id;
  const size_t n = qemu_plugin_tb_n_insns(tb);
  if (n == 0) return;
  const struct qemu_plugin_insn* first = qemu_plugin_tb_get_insn(tb, 0);
  const char* sym = qemu_plugin_insn_symbol(first);
  if (sym && qemu_plugin_insn_vaddr(first) == qemu_plugin_tb_vaddr(tb)) {
    if (strcmp(sym, gBegin) == 0) {
      qemu_plugin_register_vcpu_tb_exec_cb(tb, OnBegin, QEMU_PLUGIN_CB_NO_REGS, NULL);
      return;
    }
    if (strcmp(sym, gEnd) == 0) {
      qemu_plugin_register_vcpu_tb_exec_cb(tb, OnEnd, QEMU_PLUGIN_CB_NO_REGS, NULL);
      return;
    }
  }
  Block* b = malloc(sizeof *b);
  if (!b) return;
  b->insns = n;
  b->slot = gTop || gCallee || gInclusive ? SymSlot(sym) : 0;
  b->sym = sym;
  b->page = gUnknownTop && !sym ? PageSlot(qemu_plugin_tb_vaddr(tb) >> 12) : -1;
  b->ends = 0;
  if (gInclusive || gCallee) {
    /* The block's last instruction decoded from its bytes: E8 and FF /2
     * call, C3, C2 and F3 C3 return. */
    const struct qemu_plugin_insn* last = qemu_plugin_tb_get_insn(tb, n - 1);
    const unsigned char* c = qemu_plugin_insn_data(last);
    size_t len = qemu_plugin_insn_size(last);
    if (len > 1 && c[0] == 0xF3) c++, len--;
    if (len >= 1 && (c[0] == 0xC3 || c[0] == 0xC2)) b->ends = 2;
    else if (len >= 1 && c[0] == 0xE8) b->ends = 1;
    else if (len >= 2 && c[0] == 0xFF && ((c[1] >> 3) & 7) == 2) b->ends = 1;
  }
  qemu_plugin_register_vcpu_tb_exec_cb(tb, OnBlock, QEMU_PLUGIN_CB_NO_REGS, b);
}

static void OnExit(qemu_plugin_id_t id, void* p) {
  (void)id;
  (void)p;
  uint64_t windows = 0, count = 0;
  for (int i = 0; i < kMaxThreads; ++i) {
    windows += gWindows[i];
    count += gCount[i];
  }
  char line[256];
  snprintf(line, sizeof line, "insncount: windows %" PRIu64 " instructions %" PRIu64 " per window %.1f\n",
           windows, count, windows ? (double)count / (double)windows : 0.0);
  qemu_plugin_outs(line);
  for (int k = 0; k < gTop; ++k) {
    int best = -1;
    for (int i = 0; i < kMaxSyms; ++i)
      if (gSymName[i] && gSymCount[i] && (best < 0 || gSymCount[i] > gSymCount[best])) best = i;
    if (best < 0) break;
    snprintf(line, sizeof line, "insncount: %12" PRIu64 " %5.1f%% %s\n", gSymCount[best],
             count ? 100.0 * (double)gSymCount[best] / (double)count : 0.0, gSymName[best]);
    qemu_plugin_outs(line);
    gSymCount[best] = 0;
  }
  for (int k = 0; k < gUnknownTop; ++k) {
    int best = -1;
    for (int i = 0; i < kMaxPages; ++i)
      if (gPageCount[i] && (best < 0 || gPageCount[i] > gPageCount[best])) best = i;
    if (best < 0) break;
    snprintf(line, sizeof line, "insncount: %12" PRIu64 " page 0x%08" PRIx64 "\n", gPageCount[best],
             (gPageAddr[best] - 1) << 12);
    qemu_plugin_outs(line);
    gPageCount[best] = 0;
  }
  for (int k = 0; gCallee && k < 40; ++k) {
    int best = -1;
    for (int i = 0; i < kMaxSyms; ++i)
      if (gCallerCount[i] && (best < 0 || gCallerCount[i] > gCallerCount[best])) best = i;
    if (best < 0) break;
    snprintf(line, sizeof line, "insncount: %12" PRIu64 " calls from %s\n", gCallerCount[best],
             gSymName[best] ? gSymName[best] : "?");
    qemu_plugin_outs(line);
    gCallerCount[best] = 0;
  }
}

QEMU_PLUGIN_EXPORT int qemu_plugin_install(qemu_plugin_id_t id, const qemu_info_t* info, int argc,
                                           char** argv) {
  (void)info;
  for (int i = 0; i < argc; ++i) {
    if (strncmp(argv[i], "begin=", 6) == 0) gBegin = strdup(argv[i] + 6);
    else if (strncmp(argv[i], "end=", 4) == 0) gEnd = strdup(argv[i] + 4);
    else if (strncmp(argv[i], "top=", 4) == 0) gTop = atoi(argv[i] + 4);
    else if (strncmp(argv[i], "callers=", 8) == 0) gCallee = strdup(argv[i] + 8);
    else if (strncmp(argv[i], "inclusive=", 10) == 0) gInclusive = atoi(argv[i] + 10);
    else if (strncmp(argv[i], "unknown=", 8) == 0) gUnknownTop = atoi(argv[i] + 8);
    else {
      fprintf(stderr, "insncount: unknown argument %s\n", argv[i]);
      return -1;
    }
  }
  qemu_plugin_register_vcpu_tb_trans_cb(id, OnTranslate);
  qemu_plugin_register_atexit_cb(id, OnExit, NULL);
  return 0;
}
