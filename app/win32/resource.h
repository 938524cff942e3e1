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

}  // namespace quillon::self::resource
