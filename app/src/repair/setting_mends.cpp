// The 冰凌 settings and the Rime name the import or the build refuses, mended from the table's own
// codes or taken out.
#include <algorithm>
#include <array>

#include "line_repairer.h"
#include "qovira/table/ascii.h"
#include "qovira/table/message_text.h"
#include "qovira/table/utf16.h"
#include "qovira/table/white_space.h"
#include "repair_messages.h"

namespace qovira {

using namespace repair_messages;

void LineRepairer::plan_settings() {
  const BinglingSettings& settings = table_.bingling_settings();
  const auto declared = settings.find("codecharacters");
  const bool alphabet_given = declared != settings.end();
  const bool alphabet_valid =
      !alphabet_given || read_setting("codecharacters", declared->second) == SettingRefusal::None;
  const auto code_length = settings.find("codelength");
  const bool length_valid = code_length == settings.end() ||
                            read_setting("codelength", code_length->second) == SettingRefusal::None;
  if (!alphabet_given && length_valid) {
    return;  // the default alphabet is checked line by line, and nothing needs the codes
  }
  // What the codes the import takes are made of.
  std::array<bool, 128> used{};
  EntryReader reader(table_);
  reader.declare_alphabet(std::string(BINGLING_DEFAULT_ALPHABET));
  table_.for_each_line([&](const TextLine& line) {
    if (line.kind != LineKind::Entry) {
      return;
    }
    const EntryReading entry = reader.read(line);
    if (entry.refusal != EntryRefusal::None && entry.refusal != EntryRefusal::TextTooLong) {
      return;
    }
    longest_code_ = std::max<std::uint64_t>(longest_code_, entry.code.size());
    for (const char c : entry.code) {
      used[static_cast<unsigned char>(c)] = true;
    }
  });
  if (!alphabet_given) {
    return;
  }
  std::string alphabet;
  if (alphabet_valid) {
    alphabet = declared->second;
  }
  for (const char c : BINGLING_DEFAULT_ALPHABET) {
    if (used[static_cast<unsigned char>(c)] && alphabet.find(c) == std::string::npos) {
      alphabet.push_back(c);
    }
  }
  if (alphabet != declared->second && validate_alphabet(alphabet)) {
    reader_.declare_alphabet(alphabet);
    planned_alphabet_ = std::move(alphabet);
  }
}

bool LineRepairer::mend_rime_name(std::string_view raw, std::uint64_t number) {
  const std::string_view content = trim(raw.substr(0, raw.find('#')));
  const std::size_t colon = content.find(':');
  if (colon == std::string_view::npos || trim(content.substr(0, colon)) != "name") {
    return false;
  }
  const std::string_view name = rime_name_value(trim(content.substr(colon + 1)));
  if (utf16_length(name) <= *rime_name_room_) {
    return false;
  }
  // The name is written bare: a cut may have left a quote mark of its own, and none of it can
  // begin a comment or end the line.
  std::string line(raw.substr(0, static_cast<std::size_t>(content.data() - raw.data())));
  line.append("name: ").append(cut_to_utf16_units(name, *rime_name_room_));
  const std::string summary =
      fill_placeholders(SETTING_CHANGED, {shown_line(content), shown_line(line)});
  change(RepairRule::SettingMended, summary, NAME_SHORTENED_BASIS, number);
  output_.append_line(line);
  return true;
}

void LineRepairer::mend_setting(std::string_view raw, std::uint64_t number) {
  const std::string_view trimmed = trim(raw);
  const std::size_t equals = trimmed.find('=');
  if (equals == std::string_view::npos) {
    pass_unchanged(raw);
    return;
  }
  const std::string_view written_key = trim(trimmed.substr(0, equals));
  const std::string key = ascii_lower(written_key);
  const std::string_view value = trim(trimmed.substr(equals + 1));
  const SettingRefusal refusal = read_setting(key, value);
  std::optional<std::string> mended;
  std::string basis;
  if (key == "codecharacters" && planned_alphabet_ && value != *planned_alphabet_) {
    mended = *planned_alphabet_;
    basis = ALPHABET_BASIS;
  } else if (refusal == SettingRefusal::CodeLengthNotInteger ||
             refusal == SettingRefusal::CodeLengthOutOfRange) {
    if (longest_code_ >= 1 && longest_code_ <= BINGLING_MAX_CODE_LENGTH) {
      mended = std::to_string(longest_code_);
      basis = fill_placeholders(CODE_LENGTH_BASIS, {*mended});
    } else {
      take_out(RepairRule::SettingRemoved, fill_placeholders(SETTING_REMOVED, {shown_line(raw)}),
               CODE_LENGTH_REMOVED_REASON, number);
      return;
    }
  } else if (refusal == SettingRefusal::BadAlphabet) {
    take_out(RepairRule::SettingRemoved, fill_placeholders(SETTING_REMOVED, {shown_line(raw)}),
             ALPHABET_REMOVED_REASON, number);
    return;
  } else if (refusal == SettingRefusal::PhraseRulesTooLong) {
    take_out(RepairRule::SettingRemoved, fill_placeholders(SETTING_REMOVED, {shown_line(raw)}),
             PHRASE_RULES_REMOVED_REASON, number);
    return;
  } else if (refusal == SettingRefusal::NameTooLong) {
    mended = cut_to_utf16_units(value, bingling_name_room());
    basis = NAME_SHORTENED_BASIS;
  }
  if (!mended) {
    pass_unchanged(raw);
    return;
  }
  std::string line(written_key);
  line.push_back('=');
  line.append(*mended);
  const std::string summary =
      fill_placeholders(SETTING_CHANGED, {shown_line(trimmed), shown_line(line)});
  change(RepairRule::SettingMended, summary, basis, number);
  output_.append_line(line);
}

}  // namespace qovira
