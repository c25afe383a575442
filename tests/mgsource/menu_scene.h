// An open pull-down with its submenu over its owner window, driven by
// input given by the test (injected headless, XTest on a server): the
// shared scene of the menu screenshot tests.  The owner at kScenePlace
// shows a bar "File Edit"; File's pull-down holds "New", "Open" (with a
// submenu "One Two Three") and "Save".  The caller has the managers and
// the drawing started.
#pragma once
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "mgsource/window/lmenu.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/menutrack.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "platform/qx_time.h"

namespace menuscene {

constexpr Rect kScenePlace{200, 300, 400, 560};
constexpr Rect kSceneBar{0, 0, 20, 260};

struct Input {
  std::function<void(Point)> move, click;  // global points
};

struct Step {
  uInt32 after;
  std::function<void()> run;
};
inline std::vector<Step> gSteps;
inline size_t gNext = 0;
inline uInt32 gLast = 0;
// Runs the due steps from inside the tracking loop's waits.
inline int32 Background(Bool32) {
  while (gNext < gSteps.size() && PlatTickMs() - gLast >= gSteps[gNext].after) {
    gLast = PlatTickMs();
    gSteps[gNext++].run();
  }
  return 0;
}

inline MenuHandle Menu(int32 id, std::vector<MenuHandle>* all, std::initializer_list<const char*> texts) {
  MenuHandle m = nullptr;
  const uChar title[] = {1, 'M'};
  if (MNewLMenu(&m, title, id) != kNoErr) return nullptr;
  for (const char* t : texts) {
    uChar text[32] = {uChar(std::strlen(t))};
    std::memcpy(text + 1, t, text[0]);
    MInsertLItem(m, text, nullptr, 0, nullptr, 0, -1, 0);
  }
  all->push_back(m);
  return m;
}

// The global centre of a shown item.
inline Point ItemAt(MenuHandle m, int32 n) {
  Rect g{};
  WGetGlobalRect((*m)->window, &g);
  const int32 row = (*m)->lineHeight + 2;
  return Point{int16(g.top + 2 + (n - (*m)->firstVisible) * row + row / 2), int16(g.left + 12)};
}

// Clicks the File title, rests on Open until its submenu shows, calls
// shown(pull-down, submenu) and clicks the submenu's second item.  Gives
// "menu id,item" chosen, or what failed.
inline std::string Run(const Input& in, const std::function<void(MenuHandle, MenuHandle)>& shown) {
  std::vector<MenuHandle> all;
  MenuHandle bar = Menu(1, &all, {"_File", "_Edit"}), file = Menu(10, &all, {"New", "Open", "Save"});
  MenuHandle open = Menu(20, &all, {"One", "Two", "Three"}), edit = Menu(11, &all, {"Undo"});
  const WindowRef owner = WCreate(0, nullptr, [](WEventRecord* e, uInt32) { return e->code == kMenuEvent ? 1 : 0; },
                                  &kScenePlace, 0, 1, 0);
  std::string result = "no scene";
  if (bar && file && open && edit && owner) {
    MSetLItemSubmenu(bar, 1, file);
    MSetLItemSubmenu(bar, 2, edit);
    MSetLItemSubmenu(file, 2, open);
    WPortState saved;
    WSetup(owner, &saved);
    MDrawMenuBar(bar, &kSceneBar);
    int32 pos[kMaxBarTitles + 1];
    MLayoutMenuBar(bar, &kSceneBar, pos);
    Point title{10, int16(pos[1] / 2)};
    const Point local = title;
    WLocalToGlobal(owner, &title);
    gSteps = {{50, [&] { in.click(title); }},
              {200, [&] { in.move(ItemAt(file, 2)); }},
              {700, [&] {
                 if (!WIsWindow((*open)->window)) return void(--gNext);  // again later on a slow machine
                 shown(file, open);
                 in.click(ItemAt(open, 2));
               }}};
    gNext = 0;
    gLast = PlatTickMs();
    WMainLoopHooks hooks{};
    hooks.background = &Background;
    const WMainLoopHooks former = WSetMainLoopHooks(hooks);
    int32 id = 0, item = 0;
    uInt32 key = 0;
    MMenuBarClick(bar, &kSceneBar, local, &id, &item, &key);
    WResetMainLoopHooks();
    WSetMainLoopHooks(former);
    WRestore(&saved);
    result = gNext == gSteps.size() ? std::to_string(id) + "," + std::to_string(item) : "steps left";
  }
  if (owner) WDestroy(owner);
  for (MenuHandle m : all) MDisposeMenu(m);
  return result;
}

}  // namespace menuscene
