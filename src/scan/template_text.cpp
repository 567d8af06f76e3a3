// What each template prints on a scanned day before its correlation.
#include <sstream>

#include "scan/day_channels.h"

std::map<std::pair<std::size_t, std::size_t>, Template_day> template_texts(
    const Template_file& control, const Template_bank& bank, const Doy_time& day,
    const std::vector<Template_fetch>& fetches,
    const std::map<std::string, Channel_day>& channels) {
    std::map<std::pair<std::size_t, std::size_t>, Template_day> texts;
    for (const Template_fetch& fetch : fetches) {
        const std::size_t i = fetch.i;
        Template_day& result = texts[{fetch.e, i}];
        std::ostringstream text;
        text << fetch.said;
        if (fetch.too_long) {
            result.text = text.str();
            continue;
        }
        const Channel_day& channel = channels.at(channel_key(control, i));
        const int m = used_length(bank, i);
        if (channel.read) {
            text << channel.conditioning_text;
        }
        if (!channel.found) {
            text << "Data was not found for " << day.year << " " << day.doy << " 0 "
                 << control.network[i] << " " << control.station[i] << " " << control.location[i]
                 << " " << control.channel[i] << "\n";
        } else if (static_cast<long long>(channel.size) < m) {
            text << "Day trace holds " << channel.size << " samples, fewer than the " << m
                 << " of template #" << i + 1 << ": not correlated\n";
        } else {
            if (channel.size != channel.asked) {
                text << "Day trace holds " << channel.size << " samples instead of "
                     << channel.asked << "\n";
            }
            text << "assigning image...\ncross-correlating...done.\n";
            result.correlated = true;
        }
        result.text = text.str();
    }
    return texts;
}
