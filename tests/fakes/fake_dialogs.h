// Dialogs without windows: the views keep their controls' state in fields,
// and the platform runs the opening handlers and then what the test's user
// does.
#pragma once

#include <functional>
#include <vector>

#include "base/platform.h"
#include "dialogs/dialog_views.h"

namespace ledra::testing {

class FakeConfigView : public ConfigView {
 public:
  void SetCaption(const Text&) override {}
  void SetTabCaption(int, const Text&) override {}
  void SelectTab(int) override {}
  Text DbFile() const override { return db_file; }
  void SetDbFile(const Text& s) override { db_file = s; }
  int Search(int index) const override { return search[index]; }
  void SetSearch(int index, int value) override { search[index] = value; }
  void ShowTables(bool visible) override { tables_visible = visible; }
  void SetTopmost(bool) override {}
  void Close() override { closed = true; }

  Text db_file;
  int search[2] = {0, 0};  // the check boxes' design-time state
  bool tables_visible = true, closed = false;
};

class FakeActionView : public ActionView {
 public:
  void AddItem(const Text& s) override { items.push_back(s); }
  int ListCount() const override { return static_cast<int>(items.size()); }
  Text List(int index) const override { return items.at(index); }
  int32_t ItemData(int) const override { return 0; }
  void SetListIndex(int index) override { list_index = index; }
  Text ActionText() const override { return list_index < 0 ? Text() : items.at(list_index); }
  void SetTopmost(bool) override {}
  void Close() override {}

  std::vector<Text> items;
  int list_index = -1;
};

// Opens the dialog (load, then activate) and hands it to the test's user.
class FakeDialogs : public Dialogs {
 public:
  void ShowConfig(const OwnerWindow&, ConfigHandlers& h) override { Show(config, opened, h, config_user); }
  void ShowAction(const OwnerWindow&, ActionHandlers& h) override { Show(action, opened_action, h, action_user); }
  template <class View, class Handlers, class User>
  static void Show(View& v, View& opened, Handlers& h, const User& user) {
    h.FormLoad(v);
    h.FormActivate(v);
    opened = v;
    if (user) user(v, h);
  }

  FakeConfigView config, opened;
  FakeActionView action, opened_action;
  std::function<void(FakeConfigView&, ConfigHandlers&)> config_user;
  std::function<void(FakeActionView&, ActionHandlers&)> action_user;
};

}  // namespace ledra::testing
