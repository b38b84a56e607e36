#pragma once

#include <string_view>

namespace velmarch {

/// A borrowed run of bytes; not terminated, owns nothing.
using StrView = std::string_view;

}  // namespace velmarch

/// Arguments for a "%.*s" conversion of a StrView.
#define STR_VIEW_ARG(view) static_cast<int>((view).size()), (view).data()
