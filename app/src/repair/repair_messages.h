// The fixed sentences of the repair's items: each written once, "{}" filled in order.
#pragma once

#include <cstddef>
#include <string_view>

namespace qovira::repair_messages {

constexpr std::string_view SEPARATOR_CHANGED = "列分隔改成 Tab：{}";
constexpr std::string_view SEPARATOR_CHANGED_BASIS = "原行用空格分列，Rime/冰凌都要求一个制表符";
constexpr std::string_view NOT_TWO_COLUMNS = "这一行不是两列，原样留着：{}";
constexpr std::string_view NOT_TWO_COLUMNS_REASON =
    "看不出哪段是词、哪段是编码，猜错会造出错误词条";
constexpr std::string_view EMPTY_COLUMN_DROPPED = "删掉空编码/空词条的行";
constexpr std::string_view EMPTY_COLUMN_DROPPED_BASIS = "两列缺一列的记录没有意义，导入器也会跳过";
constexpr std::string_view CODE_CHANGED = "编码 {} → {}";
constexpr std::string_view CODE_INFERRED = "编码 {} → {}（词条「{}」）";
constexpr std::string_view CODE_EXCLUDED = "编码 {}（词条「{}」）含非法码元，已从导出中排除";
constexpr std::string_view CODE_EXCLUDED_REASON =
    "同类词条的用码规律不够一致，猜出来的编码可能是错的";
constexpr std::string_view FULL_WIDTH_BASIS = "把全角标点换成半角；码元只认半角 , . ; /";
constexpr std::string_view CAPITALS_BASIS = "编码只认小写字母";
constexpr std::string_view FULL_WIDTH_LETTERS_BASIS = "把全角字母换成半角；编码只认半角字母";
constexpr std::string_view PIN_MARK_SPACE_BASIS =
    "置顶标记 * 要紧跟在编码后面，中间的空白会让导入器认不出这个编码";
constexpr std::string_view COLUMNS_SWAPPED = "文字列与编码列对调：{}";
constexpr std::string_view COLUMNS_SWAPPED_BASIS =
    "编码列里是汉字、文字列里只有编码字母，两列写反了；导入器会把这一行当成坏行";
constexpr std::string_view FIRST_TAB_RESTORED = "词与编码之间的空格改成 Tab：{}";
constexpr std::string_view FIRST_TAB_RESTORED_BASIS =
    "文字列里是“词 编码”两段，编码列里是一个数：第一个 Tab 被写成了空格，权重落进了编码列";
constexpr std::string_view REFUSED_LINE_REMOVED = "导入器不收这一行：{}";
constexpr std::string_view SETTING_CHANGED = "设置 {} → {}";
constexpr std::string_view SETTING_REMOVED = "删掉设置行：{}";
constexpr std::string_view CODE_LENGTH_BASIS =
    "CodeLength 必须是 1 到 16 的整数；码表里最长的编码是 {} 码";
constexpr std::string_view CODE_LENGTH_REMOVED_REASON =
    "CodeLength 必须是 1 到 16 的整数，码表本身看不出该写几；去掉这一行，导入器就不检查码长";
constexpr std::string_view ALPHABET_BASIS =
    "CodeCharacters 要声明编码用到的每个字母，且只能是 a-z , . / ; 中不重复的至多 30 "
    "个；这里按码表实际用到的字母重写";
constexpr std::string_view ALPHABET_REMOVED_REASON =
    "CodeCharacters 无效，码表用到的字母也凑不成一个有效的字母表；去掉这一行，导入器就用默认的 a-z "
    "/";
constexpr std::string_view PHRASE_RULES_REMOVED_REASON =
    "PhraseRule 的造词规则合起来超过 32 个字符，写不进 "
    ".mb；删掉哪几条会改变造词，不替你挑，去掉这一行就用默认规则 p11+p21+p31+p32";
constexpr std::string_view TOO_MANY_UNSPLIT_REASON =
    "看不出哪段是词、哪段是编码；这样的行太多，留着它们导入器会拒收整份词典，所以移出";
constexpr std::string_view NAME_SHORTENED_BASIS =
    "名称太长，写不进 .mb 的码表说明；按能放下的长度截短";
// The first "{}" is the earlier line's number, then the word and the code.
constexpr std::string_view DUPLICATE = "删掉与第 {} 行完全重复的「{}」{}";
constexpr std::string_view DUPLICATE_BASIS = "同一个词在同一个编码下重复登记，导入时本来也会去重";
constexpr std::string_view HEAVIER_DUPLICATE = "与第 {} 行重复的「{}」{} 权重更高，原样留着";
constexpr std::string_view HEAVIER_DUPLICATE_REASON =
    "导入时同词同码只留一条、取较高的权重；删掉这一行，这个词的排序就会变低";

}  // namespace qovira::repair_messages
