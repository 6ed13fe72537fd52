#include "recorder/aufnahme_form.h"

#include <strings.h>
#include <sys/stat.h>

#include <QGroupBox>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <algorithm>
#include <chrono>
#include <filesystem>

#include "platform/ui_hook.h"
#include "recorder/event_log.h"
#include "recorder/form_layout.h"
#include "recorder/radio_group.h"
#include "recorder/recorder_clock.h"
#include "recorder/recorder_options.h"
#include "recorder/recording_files.h"

namespace pmx {

namespace {

constexpr int kRecordingNameLength = 18;  // 14 digits and a 4-character extension

void Tell(const std::string& text) { ShowMessageBox(text, "Pelmorax"); }

bool ModificationTime(const std::string& path, std::tm& local) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return false;
  local = LocalTime(std::chrono::system_clock::from_time_t(status.st_mtime));
  return true;
}

bool HasExtension(const std::string& name, const char* extension) {
  const std::size_t length = std::char_traits<char>::length(extension);
  return name.size() > length &&
         strcasecmp(name.c_str() + name.size() - length, extension) == 0;
}

// The recordings are played by their kind of file, whatever folder they lie in.
int KindOf(const std::string& path) {
  if (HasExtension(path, ".wav")) return 1;
  if (HasExtension(path, ".ogg")) return 2;
  if (HasExtension(path, ".mp3")) return 3;
  return 0;
}

void AddEntriesOfKind(const std::string& folder, int month, const char* extension,
                      std::vector<TRecordingEntry>& entries) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    std::error_code kind_error;
    if (!HasExtension(name, extension) || !entry.is_regular_file(kind_error)) continue;
    const std::string path = folder.ends_with('/') ? folder + name : folder + "/" + name;
    std::tm local{};
    if (!ModificationTime(path, local) || local.tm_mon + 1 != month) continue;
    entries.push_back({RecordingDisplayName(path) + " " + path, path});
  }
}

constexpr int kFormWidth = 560;
constexpr int kFormHeight = 330;
constexpr int kListWidth = 320;

}  // namespace

std::string RecordingDisplayName(const std::string& path) {
  const std::string name = std::filesystem::path(path).filename().string();
  if (name.size() == kRecordingNameLength) {
    return name.substr(2, 2) + "/" + name.substr(4, 2) + "/" + name.substr(6, 2) + " " +
           name.substr(8, 2) + ":" + name.substr(10, 2) + ":" + name.substr(12, 2);
  }
  std::tm local{};
  if (!ModificationTime(path, local)) return name;
  return TwoDigits(local.tm_year + 1900 - 2000) + "/" + TwoDigits(local.tm_mon + 1) + "/" +
         TwoDigits(local.tm_mday) + " " + TwoDigits(local.tm_hour) + ":" +
         TwoDigits(local.tm_min) + ":" + TwoDigits(local.tm_sec);
}

std::vector<TRecordingEntry> RecordingEntries(const std::string& folder, int month) {
  std::vector<TRecordingEntry> entries;
  for (const char* extension : {".wav", ".mp3", ".ogg"}) {
    AddEntriesOfKind(folder, month, extension, entries);
  }
  std::sort(entries.begin(), entries.end(),
            [](const TRecordingEntry& a, const TRecordingEntry& b) { return a.line < b.line; });
  return entries;
}

TAufnahmeForm::TAufnahmeForm(const TRecorderOptions& options, TPlaybackChoice& playback,
                             QWidget* parent)
    : QDialog(parent), options_(options), playback_(playback) {
  setWindowTitle("Select..");
  setFixedSize(kFormWidth, kFormHeight);
  QStringList months;
  for (const char* month : {"January", "February", "March", "April", "May", "June", "July",
                            "August", "September", "October", "November", "December"}) {
    months << month;
  }
  SelektionRadioGroup = Place(new TRadioGroup("Month", months, 2, this), 8, 8, 200, 200);
  SelektionRadioGroup->setObjectName("SelektionRadioGroup");
  SelektionRadioGroup->OnClick = [this] { SelektionRadioGroupClick(); };
  files_ = Place(new QGroupBox("Audio Files (yy/mm/dd hh:mm:ss)", this), 216, 8, 336, 272);
  ListBox = Named(Place(new QListWidget(files_), 8, 20, kListWidth, 244), "ListBox");
  ListBox->setSortingEnabled(true);
  connect(ListBox, &QListWidget::itemDoubleClicked, this, [this] { OKBitBtnClick(); });
  OKBitBtn = Named(Place(new QPushButton("Ok", this), 216, 290, 104, 30), "OKBitBtn");
  CloseBitBtn = Named(Place(new QPushButton("Cancel", this), 332, 290, 104, 30), "CloseBitBtn");
  DeleteBitBtn = Named(Place(new QPushButton("Delete", this), 448, 290, 104, 30), "DeleteBitBtn");
  connect(OKBitBtn, &QPushButton::clicked, this, [this] { OKBitBtnClick(); });
  connect(CloseBitBtn, &QPushButton::clicked, this, [this] { CloseBitBtnClick(); });
  connect(DeleteBitBtn, &QPushButton::clicked, this, [this] { DeleteBitBtnClick(); });
}

TAufnahmeForm::~TAufnahmeForm() = default;

int TAufnahmeForm::Execute() {
  FormShow();
  return ExecPlaced(*this);
}

void TAufnahmeForm::FormShow() {
  SelektionRadioGroup->SetItemIndex(LocalTime(RecorderClock::Now()).tm_mon);
  FillRecordingList();
  DeleteBitBtn->setVisible(!options_.HideDelete);
}

void TAufnahmeForm::FillRecordingList() {
  ListBox->clear();
  const int month = SelektionRadioGroup->ItemIndex() + 1;
  for (const TRecordingEntry& entry : RecordingEntries(options_.RecordingFolder, month)) {
    auto* item = new QListWidgetItem(QString::fromStdString(entry.line), ListBox);
    item->setData(Qt::UserRole, QString::fromStdString(entry.path));
  }
  FitListToLines();
}

void TAufnahmeForm::FitListToLines() {
  int widest = 0;
  for (int row = 0; row < ListBox->count(); ++row) {
    widest = std::max(widest, ListBox->fontMetrics().horizontalAdvance(ListBox->item(row)->text()));
  }
  // Frame, item margins and a vertical scroll bar.
  int wanted = widest + 2 * ListBox->frameWidth() + 32;
  if (const QScreen* screen = this->screen()) {
    wanted = std::min(wanted, screen->availableGeometry().width() - (kFormWidth - kListWidth));
  }
  const int list_width = std::max(kListWidth, wanted);
  const int extra = list_width - kListWidth;
  setFixedSize(kFormWidth + extra, kFormHeight);
  files_->resize(kListWidth + 16 + extra, files_->height());
  ListBox->resize(list_width, ListBox->height());
}

std::string TAufnahmeForm::SelectedPath() const {
  const QListWidgetItem* item = ListBox->currentItem();
  if (!item || !item->isSelected()) return "";
  return item->data(Qt::UserRole).toString().toStdString();
}

void TAufnahmeForm::OKBitBtnClick() {
  const std::string path = SelectedPath();
  if (path.empty()) return;
  if (OnStopPlayback) OnStopPlayback();
  if (!FileNotInUse(path)) {
    Tell("Error opening " + path + ". File in use?");
    return;
  }
  playback_.PlaybackFile = path;
  playback_.PlaybackKind = KindOf(path);
  accept();
  if (OnLoadPlaybackFile) OnLoadPlaybackFile();
}

void TAufnahmeForm::DeleteBitBtnClick() {
  const std::string path = SelectedPath();
  if (path.empty()) return;
  // Unlinking succeeds on Linux even while the recorder writes the file, so a
  // recording in progress is refused here rather than by the file system.
  if (!FileNotInUse(path) || !EraseFile(path)) Tell("Error deleting " + path + ".");
  playback_.PlaybackFile.clear();
  FillRecordingList();
}

void TAufnahmeForm::CloseBitBtnClick() { reject(); }

void TAufnahmeForm::done(int result) {
  ListBox->clear();
  QDialog::done(result);
}

}  // namespace pmx
