#include "ui/model/HelpTopics.h"

#include "ui/model/Msg_list.h"

namespace varimel::model {

std::string helpPagePath(const std::string& helpPath, int topic) {
    if (topic == help_topic::kContents) return helpPath + "index.html";
    return helpPath + "topic-" + std::to_string(topic) + ".html";
}

std::string siteUrl(std::string_view siteAddress) {
    return "http://" + std::string(siteAddress);
}

std::string visitText(std::string_view siteAddress) {
    return formatText(text::kVisit, siteAddress);
}

}  // namespace varimel::model
