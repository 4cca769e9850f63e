// The image settings: the values of the filter table's image rows (filters, Bayer and gray gains and
// offsets, the correction switches), the one-shot white-balance markers and the automatic exposure
// mode. Application threads set them through the filter exports; the acquisition thread takes one
// consistent copy per frame and stores back what the automatic balances measured. Every change is
// announced through the notifier.
#pragma once

#include <array>
#include <cstddef>

#include "image/image_pipeline.h"
#include "platform/thread_annotations.h"
#include "settings/filter_table.h"
#include "settings/settings_notifier.h"
#include "settings/settings_status.h"

namespace orvane::settings {

class ImageSettings {
 public:
  explicit ImageSettings(SettingsNotifier& notifier) : notifier_(notifier) {}
  ImageSettings(const ImageSettings&) = delete;
  ImageSettings& operator=(const ImageSettings&) = delete;

  // Sets an image row (stored, set-only, switch, packed Bayer gains). kArgument for an id that is not
  // an image row or a value outside the row's range; nothing changes then.
  SettingStatus Set(int id, int32_t value) ORVANE_EXCLUDES(mutex_);
  // Reads an image row back; kArgument for set-only rows and ids that are not image rows.
  SettingStatus Get(int id, int32_t* value) const ORVANE_EXCLUDES(mutex_);

  // Automatic exposure: 0 off, 1 exposure, 2 gain. kArgument for any other mode.
  SettingStatus SetAutoIris(int mode) ORVANE_EXCLUDES(mutex_);
  int AutoIris() const ORVANE_EXCLUDES(mutex_);

  // Fills every pipeline field the table names, the one-shot markers and the automatic exposure mode.
  void Snapshot(image::PipelineSettings& settings) const ORVANE_EXCLUDES(mutex_);
  // Stores what a frame's automatic white balance and gray balance measured (acquisition thread).
  void StoreFrameUpdates(const image::PipelineUpdates& updates) ORVANE_EXCLUDES(mutex_);

  ImageValues Values() const ORVANE_EXCLUDES(mutex_);
  // Takes the stored rows (filter and gray subkeys) of `stored`. Without stored filter values the
  // automatic white balance and its markers are switched off too, as for a fresh camera.
  void Restore(const ImageValues& stored, bool filterStored) ORVANE_EXCLUDES(mutex_);
  // The values with nothing stored: Restore of the table defaults.
  void ResetToDefaults() { Restore(ImageValues{}, false); }

  // A single white balance: the switch with both one-shot markers; the next measuring frame clears
  // all three.
  void RequestWhiteBalanceOnce() ORVANE_EXCLUDES(mutex_);
  // Gray balance on every frame: while set, each frame's measurement asks for the next one (the
  // request of filter 28 stays 1). Not stored per camera.
  void SetGrayBalanceContinuous(bool on) ORVANE_EXCLUDES(mutex_);
  bool GrayBalanceContinuous() const ORVANE_EXCLUDES(mutex_);

  // Everything a settings dialog may change here: the values, the automatic balance switches and
  // markers. A dialog takes one when it opens and puts it back when it is cancelled.
  struct State {
    ImageValues values;
    int whiteBalanceOnce[2] = {0, 0};
    bool grayBalanceContinuous = false;
  };
  State Save() const ORVANE_EXCLUDES(mutex_);
  void Reinstate(const State& state) ORVANE_EXCLUDES(mutex_);

 private:
  // The settings a locked section changed, announced once the lock is released.
  struct Changes {
    std::array<int, kFilterCount + 1> settings{};
    size_t count = 0;
    void Add(int setting) { settings[count++] = setting; }
  };
  void Assign(int id, int32_t value, Changes& changes) ORVANE_REQUIRES(mutex_);
  void Announce(const Changes& changes) const;

  SettingsNotifier& notifier_;
  mutable platform::Mutex mutex_;
  ImageValues values_ ORVANE_GUARDED_BY(mutex_);
  // One-shot white-balance markers: with both set the balance runs on one frame, then they clear.
  int whiteBalanceOnce_[2] ORVANE_GUARDED_BY(mutex_) = {0, 0};
  int autoIris_ ORVANE_GUARDED_BY(mutex_) = 0;
  bool grayBalanceContinuous_ ORVANE_GUARDED_BY(mutex_) = false;
};

}  // namespace orvane::settings
