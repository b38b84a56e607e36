#pragma once

namespace velmarch {

/// Fixed when the program is built: year, month and day of the build and the first eight hex
/// digits of the commit, joined by ".".
const char* version_text();
/// Month abbreviation, day, year and time of the build.
const char* build_date_text();
/// The commit's forty hex digits; forty zeros for a build outside a git checkout.
const char* commit_hash_text();

}  // namespace velmarch
