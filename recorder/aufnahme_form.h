#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

class QGroupBox;
class QListWidget;
class QPushButton;

namespace pmx {

class TRadioGroup;
struct TRecorderOptions;

// What the recordings list hands to the main window's player: the full path of
// the chosen file (empty: none) and its kind (0 none, 1 WAV, 2 Ogg Vorbis, 3 MP3).
// The main window holds it and lends it to the list.
// Threads: GUI thread only.
struct TPlaybackChoice {
  std::string PlaybackFile;
  int PlaybackKind = 0;
};

// "yy/mm/dd hh:mm:ss" of a recording: read from a 14-digit recording name, else
// the file's modification time; a missing file gives its own name.
std::string RecordingDisplayName(const std::string& path);

// A file of the recordings list: its line (display name + " " + path) and its path.
struct TRecordingEntry {
  std::string line;
  std::string path;
};

// The ".wav", ".mp3" and ".ogg" files of folder (extensions in any case) modified
// in month (1..12) of any year, ordered by their lines.
std::vector<TRecordingEntry> RecordingEntries(const std::string& folder, int month);

// The recordings of one month of the options' RecordingFolder: "Ok" (or a double
// click) hands the chosen one to the player, "Delete" erases it. GUI thread only.
class TAufnahmeForm : public QDialog {
 public:
  // options: the main window's, which name the folder and hide "Delete"; playback:
  // what the list hands to the main window's player.
  TAufnahmeForm(const TRecorderOptions& options, TPlaybackChoice& playback,
                QWidget* parent = nullptr);
  ~TAufnahmeForm() override;

  // Fills the list at the current month and runs the window modally.
  int Execute();

  TRadioGroup* SelektionRadioGroup = nullptr;
  QListWidget* ListBox = nullptr;
  QPushButton* OKBitBtn = nullptr;
  QPushButton* CloseBitBtn = nullptr;
  QPushButton* DeleteBitBtn = nullptr;

  // Handlers as the form binds them.
  void FormShow();
  void FillRecordingList();
  void SelektionRadioGroupClick() { FillRecordingList(); }
  void OKBitBtnClick();
  void DeleteBitBtnClick();
  void CloseBitBtnClick();

  // Where the main window's player plugs in: stop what plays before the file
  // changes, and take PlaybackFile of PlaybackKind once chosen.
  std::function<void()> OnStopPlayback;
  std::function<void()> OnLoadPlaybackFile;

 protected:
  void done(int result) override;

 private:
  // The path of the selected line; empty when none is selected.
  std::string SelectedPath() const;
  // Widens the window until the longest line shows whole, as far as the screen
  // allows; the list scrolls sideways beyond that.
  void FitListToLines();

  const TRecorderOptions& options_;
  TPlaybackChoice& playback_;
  QGroupBox* files_ = nullptr;
};

}  // namespace pmx
