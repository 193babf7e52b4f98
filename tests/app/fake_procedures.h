// Procedures of both windows' tests that write into one shared log, so a test sees the
// order in which the operator would meet things.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/window_procedures.h"

namespace pelliton::testing {

// Every event is logged; a test may attach an action to run inside it.
class FakeProcedures final : public WindowProcedures {
 public:
  using Action = std::function<void(OperatorPanel&)>;

  explicit FakeProcedures(std::vector<std::string>* log) : log_(log) {}

  void OnBrowseScript(OperatorPanel& p) override { Run("OnBrowseScript", on_browse, p); }
  void OnDownload(OperatorPanel& p) override { Run("OnDownload", on_download, p); }
  void GetCardInfo(OperatorPanel& p) override { Run("GetCardInfo", on_card_info, p); }
  void ReloadReaderList(OperatorPanel& p) override { Run("ReloadReaderList", on_reload_list, p); }
  void OnPcscReload(OperatorPanel& p) override { Run("OnPcscReload", on_pcsc_reload, p); }
  void OnReaderSelChange(OperatorPanel& p) override { Run("OnReaderSelChange", nullptr, p); }
  void OnReaderModeClicked(OperatorPanel& p, int id) override {
    log_->push_back("OnReaderModeClicked:" + std::to_string(id));
    const bool pcsc = id == kPcscRadio;
    p.EnableControl(kReaderList, pcsc);
    p.EnableControl(kReloadButton, pcsc);
  }

  Action on_browse, on_download, on_card_info, on_pcsc_reload;
  // By default the list gets two readers, the way the PC/SC listing fills it.
  Action on_reload_list = [](OperatorPanel& p) {
    p.ReaderListClear();
    p.ReaderListInsert(0, "Reader A 00");
    p.ReaderListInsert(1, "Reader B 01");
    p.ReaderListSelect(0);
  };

  int Count(const std::string& name) const {
    int n = 0;
    for (const std::string& entry : *log_)
      n += entry == name ? 1 : 0;
    return n;
  }

 private:
  void Run(const char* name, const Action& action, OperatorPanel& p) {
    log_->push_back(name);
    if (action)
      action(p);
  }
  std::vector<std::string>* log_;
};

}  // namespace pelliton::testing
