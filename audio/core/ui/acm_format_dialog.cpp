#include "audio/core/ui/acm_format_dialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QVBoxLayout>
#include <algorithm>

namespace pmx {
namespace {

bool Listed(const std::vector<ACMFORMATDETAILS>& list, const WaveFormatEx& f) {
  return std::any_of(list.begin(), list.end(),
                     [&](const ACMFORMATDETAILS& d) { return d.wfx == f; });
}

}  // namespace

TACMFormatDialog::TACMFormatDialog(ACMFORMATCHOOSE& choose, QWidget* parent)
    : QDialog(parent),
      choose_(choose),
      tag_box_(new QComboBox(this)),
      format_box_(new QComboBox(this)) {
  setWindowTitle(QString::fromStdString(choose.pszTitle));
  auto* form = new QFormLayout;
  form->addRow("Format:", tag_box_);
  form->addRow("Attributes:", format_box_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &TACMFormatDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &TACMFormatDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
  Collect();
  for (const ACMFORMATTAGDETAILS& tag : tags_) {
    tag_box_->addItem(QString::fromStdString(tag.szFormatTag));
  }
  connect(tag_box_, &QComboBox::currentIndexChanged, this, &TACMFormatDialog::ShowFormats);
  ShowFormats(tag_box_->currentIndex());
  SelectInitial();
}

// Formats that several drivers list (a decoder and an encoder of one tag)
// appear once.
void TACMFormatDialog::Collect() {
  ACMFORMATDETAILS templ;
  if (choose_.pwfxEnum) templ.wfx = *choose_.pwfxEnum;
  acmFormatEnum(
      nullptr, templ,
      [this](HACMDRIVERID, const ACMFORMATDETAILS& d, uint32_t) {
        auto tag = std::find_if(tags_.begin(), tags_.end(), [&](const ACMFORMATTAGDETAILS& t) {
          return t.dwFormatTag == d.dwFormatTag;
        });
        if (tag == tags_.end()) {
          ACMFORMATTAGDETAILS details;
          details.dwFormatTag = d.dwFormatTag;
          if (acmFormatTagDetails(nullptr, details, ACM_FORMATTAGDETAILSF_FORMATTAG) !=
              MMSYSERR_NOERROR) {
            return true;
          }
          tags_.push_back(details);
          formats_.emplace_back();
          tag = tags_.end() - 1;
        }
        auto& list = formats_[static_cast<std::size_t>(tag - tags_.begin())];
        if (!Listed(list, d.wfx)) list.push_back(d);
        return true;
      },
      choose_.fdwEnum);
}

void TACMFormatDialog::ShowFormats(int tag_index) {
  format_box_->clear();
  if (tag_index < 0 || static_cast<std::size_t>(tag_index) >= formats_.size()) return;
  for (const ACMFORMATDETAILS& d : formats_[static_cast<std::size_t>(tag_index)]) {
    format_box_->addItem(QString::fromStdString(d.szFormat));
  }
}

void TACMFormatDialog::SelectInitial() {
  if (!(choose_.fdwStyle & ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT) || !choose_.pwfx) return;
  for (std::size_t t = 0; t < formats_.size(); ++t) {
    const auto& list = formats_[t];
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (list[i].wfx == *choose_.pwfx) {
        tag_box_->setCurrentIndex(static_cast<int>(t));
        format_box_->setCurrentIndex(static_cast<int>(i));
        return;
      }
    }
  }
}

void TACMFormatDialog::accept() {
  const int t = tag_box_->currentIndex();
  const int i = format_box_->currentIndex();
  if (t < 0 || i < 0) return;
  const ACMFORMATDETAILS& d = formats_[static_cast<std::size_t>(t)][static_cast<std::size_t>(i)];
  if (d.wfx.size() > choose_.cbwfx) {
    result_ = ACMERR_NOTPOSSIBLE;
  } else {
    *choose_.pwfx = d.wfx;
    choose_.szFormatTag = tags_[static_cast<std::size_t>(t)].szFormatTag;
    choose_.szFormat = d.szFormat;
    result_ = MMSYSERR_NOERROR;
  }
  QDialog::accept();
}

MMRESULT RunACMFormatDialog(ACMFORMATCHOOSE& choose) {
  TACMFormatDialog dialog(choose, QApplication::activeWindow());
  return dialog.exec() == QDialog::Accepted ? dialog.Result() : ACMERR_CANCELED;
}

void InstallACMFormatDialog() { acmSetFormatChooser(RunACMFormatDialog); }

}  // namespace pmx
