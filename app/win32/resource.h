// Control identifiers of the dialog templates in app/resources/.
#pragma once

namespace quillon::self::resource {

// DESTINATION
constexpr int destination_label = 1018;
constexpr int destination_field = 1007;
constexpr int browse_button = 1008;
// PASSPHRASE
constexpr int passphrase_field = 1022;
// PROGRESS
constexpr int progress_bar = 1010;
constexpr int current_file = 1020;
constexpr int extracting_label = 1019;
constexpr int notice = 1021;
constexpr int progress_count = 1023;
// MESSAGE: the text; the buttons are IDOK and IDCANCEL
constexpr int message_text = 1040;
// OVERWRITE: the question, and the buttons besides Yes (IDYES), No (IDNO)
// and Cancel (IDCANCEL)
constexpr int overwrite_text = 1030;
constexpr int yes_to_all_button = 1031;
constexpr int no_to_all_button = 1032;

}  // namespace quillon::self::resource
