#pragma once

#include <QDialog>
#include <vector>

#include "platform/codecs/acm.h"

class QComboBox;

namespace pmx {

// The codec registry's format chooser: a format tag and its formats, as the
// choose record's enumeration flags restrict them. GUI thread.
class TACMFormatDialog : public QDialog {
 public:
  explicit TACMFormatDialog(ACMFORMATCHOOSE& choose, QWidget* parent = nullptr);

  QComboBox* TagBox() const { return tag_box_; }
  QComboBox* FormatBox() const { return format_box_; }
  // After accept: MMSYSERR_NOERROR with the choice in the record, or the
  // reason it could not be handed over.
  MMRESULT Result() const { return result_; }

  void accept() override;

 private:
  void Collect();
  void ShowFormats(int tag_index);
  void SelectInitial();

  ACMFORMATCHOOSE& choose_;
  QComboBox* tag_box_;
  QComboBox* format_box_;
  std::vector<ACMFORMATTAGDETAILS> tags_;
  std::vector<std::vector<ACMFORMATDETAILS>> formats_;  // per tag
  MMRESULT result_ = ACMERR_CANCELED;
};

// Shows the dialog modally over the active window.
MMRESULT RunACMFormatDialog(ACMFORMATCHOOSE& choose);
// Makes the dialog the registry's chooser.
void InstallACMFormatDialog();

}  // namespace pmx
