#include <cstdio>

#include "channels.hpp"

namespace channels {

bool name_usable(const std::string& image_name) {
    if (image_name.size() >= NAME_CUT) return true;
    std::printf("Error - %s has fewer than %zu characters: no channel file names can be formed from it\n",
                image_name.c_str(), NAME_CUT);
    return false;
}

std::string file_name(const std::string& image_name, int channel) {
    std::string name = image_name.substr(0, image_name.size() - NAME_CUT);
    name += '.';
    name += LETTERS[channel];
    name += ".fits";
    return name;
}

}  // namespace channels
