// The frame of every settings dialog: a modal window with a tab control that hosts one child page
// per tab, and the buttons below it (OK, Cancel, and where the dialog has them Default and Apply).
// The frame sizes itself around its largest page, so neither language's texts decide the layout.
//
// Pages refresh from the settings when told to: RequestRefresh may be called from any thread (the
// settings' change notifications run on the thread that made the change, often the acquisition
// thread); it posts to the dialog's own thread, which reads the settings back there.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace orvane::ui {

class Page {
 public:
  virtual ~Page() = default;
  virtual int TemplateId() const = 0;
  virtual int TabTextId() const = 0;
  // The page window exists: set ranges and show the settings.
  virtual void Init() = 0;
  // Shows the settings as they are now.
  virtual void Refresh() = 0;
  // WM_COMMAND and WM_HSCROLL of the page's controls.
  virtual void OnCommand(int id, int code, HWND control) = 0;
  virtual void OnScroll(HWND control) = 0;

  HWND Window() const { return window_; }
  void SetWindow(HWND window) { window_ = window; }

 protected:
  HWND Item(int id) const { return GetDlgItem(window_, id); }
  bool Checked(int id) const { return IsDlgButtonChecked(window_, id) == BST_CHECKED; }
  void Check(int id, bool on) const { CheckDlgButton(window_, id, on ? BST_CHECKED : BST_UNCHECKED); }
  void Enable(int id, bool on) const { EnableWindow(Item(id), on); }
  // Tells the frame that something changed (enables Apply).
  void Changed() const { SendMessageW(GetParent(window_), WM_COMMAND, MAKEWPARAM(kChangedId, 0), 0); }

 public:
  static constexpr int kChangedId = 0x7F00;

 private:
  HWND window_ = nullptr;
};

struct FrameOptions {
  int captionId = 0;
  bool defaultButton = false;
  bool applyButton = false;
  std::function<void()> onDefault;  // the Default button
  std::function<bool()> onApply;    // Apply, and OK before the dialog closes; false keeps it open
};

class DialogFrame {
 public:
  DialogFrame(std::vector<Page*> pages, FrameOptions options) : pages_(std::move(pages)), options_(std::move(options)) {}
  // Runs the modal dialog; IDOK or IDCANCEL (also for Escape and closing), -1 when it could not open.
  INT_PTR Run(HWND owner);

  // Where refresh requests go. A listener keeps its own reference: a change notification already on
  // its way when the dialog closes finds no window and does nothing.
  class RefreshTarget {
   public:
    // From any thread: the pages show the settings again (coalesced until the dialog's thread runs).
    void Request();

   private:
    friend class DialogFrame;
    std::atomic<HWND> window_{nullptr};  // the frame while it is open
    std::atomic<bool> pending_{false};
  };
  std::shared_ptr<RefreshTarget> Refresher() const { return refresh_; }

 private:
  static INT_PTR CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static INT_PTR CALLBACK PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  bool OnInit(HWND window);
  void Layout();
  void ShowPage(int index);
  void OnFrameCommand(int id);

  std::vector<Page*> pages_;
  FrameOptions options_;
  HWND window_ = nullptr;
  std::shared_ptr<RefreshTarget> refresh_ = std::make_shared<RefreshTarget>();
};

}  // namespace orvane::ui
