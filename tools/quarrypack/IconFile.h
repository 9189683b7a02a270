// Icons: the images of an .ico file, and the resources a program carries
// for one icon, an RT_GROUP_ICON directory naming one RT_ICON per image.
#pragma once

#include <cstdint>
#include <vector>

#include "ResourceTree.h"
#include "Status.h"

namespace quarry::pack {

struct IconImage {
    std::uint8_t width = 0;   // 0 stands for 256
    std::uint8_t height = 0;
    std::uint8_t colors = 0;
    std::uint16_t planes = 0;
    std::uint16_t bitCount = 0;
    std::vector<std::uint8_t> data;  // a DIB (BITMAPINFOHEADER onwards) or a PNG
};

// The images of an .ico file (reserved 0, type 1, at least one image, each
// inside the file). Where the file leaves an image's planes or bit count 0,
// they are taken from the image itself, which is how the loader picks the
// image that suits a display best. Errors: "not an icon file (...)".
Status ParseIconFile(const std::vector<std::uint8_t>& file, std::vector<IconImage>& images);

// Puts `images` in place of the program's first icon group (in directory
// order, the one Explorer shows), in each of its languages: the group's
// directory is rewritten and the RT_ICON images it named, where no other
// group names them, give way to the new ones, numbered from the lowest
// free number. A program without an icon group gets group 1 in the neutral
// language.
Status ReplaceIcon(std::vector<Resource>& resources, const std::vector<IconImage>& images);

}  // namespace quarry::pack
