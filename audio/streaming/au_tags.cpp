#include "audio/streaming/au_tags.h"

#include <algorithm>
#include <initializer_list>
#include <utility>

#include "audio/streaming/au_strings.h"

namespace pmx {
namespace {

bool SameValue(const TAuTagValue& a, const TAuTagValue& b) {
  if (const auto* s = std::get_if<std::string>(&a); s && std::holds_alternative<WideString>(b))
    return Latin1ToWide(*s) == std::get<WideString>(b);
  if (const auto* w = std::get_if<WideString>(&a); w && std::holds_alternative<std::string>(b))
    return *w == Latin1ToWide(std::get<std::string>(b));
  return a == b;
}

}  // namespace

std::string TAuTags::NameAt(int index) const {
  return index >= 0 && index < Count() ? entries_[index].name : std::string();
}

size_t TAuTags::LowerBound(std::string_view name) const {
  auto it = std::lower_bound(entries_.begin(), entries_.end(), name,
                             [](const Entry& e, std::string_view n) { return LessText(e.name, n); });
  return static_cast<size_t>(it - entries_.begin());
}

const TAuTags::Entry* TAuTags::Find(std::string_view name) const {
  const size_t at = LowerBound(name);
  return at < entries_.size() && SameText(entries_[at].name, name) ? &entries_[at] : nullptr;
}

TAuTags::Entry* TAuTags::Find(std::string_view name) {
  return const_cast<Entry*>(std::as_const(*this).Find(name));
}

void TAuTags::AddKey(const char* name, TAuTagValue value) {
  if (!name || Find(name)) return;
  entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(LowerBound(name)), Entry{name, std::move(value)});
}

TAuTagValue TAuTags::GetValue(std::string_view name) const {
  const Entry* entry = Find(name);
  return entry ? entry->value : TAuTagValue();
}

void TAuTags::SetValue(std::string_view name, const TAuTagValue& value) {
  Entry* entry = Find(name);
  if (!entry || SameValue(entry->value, value)) return;
  entry->value = value;
  empty_ = false;
  changed_ = true;
}

int TAuTags::AsInteger(std::string_view name) const {
  const TAuTagValue value = GetValue(name);
  if (const int* i = std::get_if<int>(&value)) return *i;
  if (const auto* s = std::get_if<std::string>(&value)) return StrToIntDef(*s, 0);
  if (const auto* w = std::get_if<WideString>(&value)) return StrToIntDef(WideToLatin1(*w), 0);
  return 0;
}

std::string TAuTags::AsString(std::string_view name) const {
  const TAuTagValue value = GetValue(name);
  if (const int* i = std::get_if<int>(&value)) return std::to_string(*i);
  if (const auto* s = std::get_if<std::string>(&value)) return *s;
  if (const auto* w = std::get_if<WideString>(&value)) return WideToLatin1(*w);
  return {};
}

WideString TAuTags::AsWideString(std::string_view name) const {
  const TAuTagValue value = GetValue(name);
  if (const auto* w = std::get_if<WideString>(&value)) return *w;
  return Latin1ToWide(AsString(name));
}

void TAuTags::Clear() {
  for (Entry& entry : entries_) entry.value = std::monostate();
  empty_ = true;
  changed_ = true;
}

void TAuTags::Assign(const TAuTags& source) {
  if (&source == this) return;
  Clear();
  for (const Entry& entry : source.entries_) SetValue(entry.name, entry.value);
}

bool TAuTags::DetectTag(TAuHandle handle) { return handle != kNoHandle; }

bool TAuTags::ReadFromFile(TAuHandle handle) {
  if (handle == kNoHandle) return false;
  Clear();
  return true;
}

bool TAuTags::WriteToFile(TAuHandle handle) { return handle != kNoHandle; }

TAPEv2Tags::TAPEv2Tags() {
  for (const char* key :
       {"Artist", "Composer", "Album", "Debut album", "Publisher", "Conductor", "Copyright", "ISBN", "ISRC",
        "EAN/UPC", "LC", "Catalog", "Language", "Genre", "Year", "Record Date", "Record Location", "File",
        "Related", "Abstract", "Bibliography", "Track", "Title", "Subtitle", "Comment"})
    AddKey(key);
}

TVorbisTags::TVorbisTags() {
  for (const char* key : {"album", "artist", "date", "genre", "title", "tracknumber", "discnumber",
                          "replaygain_reference_loudness", "replaygain_track_gain", "replaygain_track_peak",
                          "replaygain_album_gain", "replaygain_album_peak"})
    AddKey(key);
}

void StoreVorbisComment(TVorbisTags& tags, std::string_view comment) {
  const std::string key = LowerCase(CopyUpToChar('=', comment));
  for (const char* taken : {"artist", "album", "title", "date", "genre", "tracknumber"}) {
    if (key == taken) {
      tags.SetValue(key, Utf8ToWide(CopyAfterChar('=', comment)));
      return;
    }
  }
}

}  // namespace pmx
