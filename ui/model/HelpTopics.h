// HelpTopics: the help pages by topic number, and the web commands' address texts.
#pragma once

#include <string>
#include <string_view>

namespace varimel::model {

namespace help_topic {
inline constexpr int kContents = 0;
inline constexpr int kQuickTour = 2;
inline constexpr int kMainWindow = 8;
inline constexpr int kMenus = 22;
inline constexpr int kToolbar = 23;
inline constexpr int kStyleDialog = 24;
inline constexpr int kOptionsDialog = 26;
inline constexpr int kDemos = 28;
inline constexpr int kMelodyRequirement = 29;
inline constexpr int kSupport = 30;
}  // namespace help_topic

// "<helpPath>index.html" for the contents, "<helpPath>topic-<N>.html" for a topic.
std::string helpPagePath(const std::string& helpPath, int topic);

// "http://" + the stored address.
std::string siteUrl(std::string_view siteAddress);
// "Visit <address>." for when no program could open it.
std::string visitText(std::string_view siteAddress);

}  // namespace varimel::model
