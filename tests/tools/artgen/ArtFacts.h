// What the program asks of its pictures, written down independently of the
// art tables: the image catalogue (slot -> resource ids and alpha flag), the
// toolkit's "IIMAGE" id lists, and a PNG reader.
#pragma once

#include <png.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace artfacts {

struct Slot {
  int landscape = 0;  // resource id while rotated; 0 = no picture
  int portrait = 0;   // resource id otherwise; 0 = no picture
  bool opaque = false;
};

// Slots first..last map run by run onto ids from `land` (rotated) and `port`
// (not rotated; -1 = the same as land).
struct Run {
  int first, last, land, port;
  bool opaque;
};

inline const std::map<int, Slot>& Catalogue() {
  static const std::map<int, Slot> slots = [] {
    const std::vector<Run> runs = {
        {0, 0, 0, 0, false}, {4, 4, 138, -1, false}, {5, 5, 189, -1, false},
        {6, 6, 154, -1, true}, {7, 7, 156, -1, true}, {8, 8, 155, -1, true}, {9, 9, 157, -1, true},
        {10, 10, 185, -1, false}, {11, 11, 184, -1, false}, {12, 12, 186, -1, false}, {13, 13, 182, -1, false},
        {14, 14, 181, -1, true},
        {15, 15, 183, -1, false}, {16, 16, 179, -1, false}, {17, 17, 178, -1, false}, {18, 18, 180, -1, false},
        {19, 19, 167, -1, false}, {20, 20, 166, -1, false}, {21, 21, 168, -1, false}, {22, 22, 164, -1, false},
        {23, 23, 163, -1, true},
        {24, 24, 165, -1, false}, {25, 25, 161, -1, false}, {26, 26, 160, -1, false}, {27, 27, 162, -1, false},
        {28, 28, 176, -1, false}, {29, 29, 175, -1, false}, {30, 30, 177, -1, false}, {31, 31, 173, -1, false},
        {32, 32, 172, -1, true},
        {33, 33, 174, -1, false}, {34, 34, 170, -1, false}, {35, 35, 169, -1, false}, {36, 36, 171, -1, false},
        {37, 37, 151, -1, false}, {38, 38, 153, -1, false}, {39, 39, 152, -1, false},
        {40, 42, 283, -1, false}, {43, 45, 631, -1, false}, {46, 48, 286, -1, false},
        {49, 66, 191, -1, false}, {67, 68, 290, -1, false}, {69, 71, 209, -1, false}, {72, 83, 377, -1, false},
        {84, 100, 356, -1, false}, {101, 102, 266, -1, false}, {103, 103, 188, -1, false},
        {104, 104, 471, -1, false}, {105, 105, 540, -1, false}, {106, 106, 472, -1, false},
        {107, 108, 545, -1, false}, {109, 109, 473, -1, false}, {110, 110, 547, -1, false},
        {111, 111, 474, -1, false}, {112, 113, 675, -1, false}, {114, 119, 678, -1, false},
        {120, 121, 140, -1, false}, {122, 138, 339, -1, false}, {139, 148, 394, -1, false},
        {149, 149, 190, -1, false}, {150, 152, 271, -1, false}, {153, 153, 289, -1, false},
        {154, 154, 299, -1, false}, {155, 155, 405, -1, false}, {156, 156, 469, -1, false},
        {157, 157, 300, -1, false}, {158, 158, 406, -1, false}, {159, 159, 470, -1, false},
        {160, 161, 301, -1, false}, {162, 188, 304, -1, false}, {189, 189, 331, -1, false},
        {190, 191, 332, -1, false}, {192, 192, 427, -1, false}, {193, 193, 334, -1, false},
        {194, 194, 428, -1, false}, {195, 197, 335, -1, false}, {198, 198, 433, -1, false},
        {199, 199, 435, -1, false}, {200, 200, 338, -1, false}, {201, 201, 434, -1, false},
        {202, 202, 436, -1, false}, {203, 205, 494, -1, false}, {206, 208, 625, -1, false},
        {209, 209, 139, -1, false}, {210, 210, 376, -1, true},
        {211, 211, 439, -1, false}, {212, 212, 437, -1, false}, {213, 213, 655, -1, false},
        {214, 214, 438, -1, false}, {215, 215, 614, -1, false}, {216, 216, 190, -1, false},
        {217, 217, 390, -1, false}, {218, 219, 392, -1, false}, {220, 220, 630, -1, false},
        {221, 221, 624, -1, false}, {222, 222, 656, 624, false}, {223, 223, 375, -1, false},
        {224, 224, 374, -1, false}, {225, 225, 0, 0, false},
        {226, 230, 409, -1, false}, {231, 231, 417, -1, false}, {232, 232, 419, -1, false},
        {233, 233, 418, -1, false}, {234, 234, 414, -1, false}, {235, 235, 415, 414, false},
        {236, 236, 416, -1, false}, {237, 237, 420, 422, false}, {238, 239, 421, -1, false},
        {240, 240, 628, 0, false}, {241, 241, 629, -1, false}, {242, 244, 423, -1, false},
        {245, 250, 440, -1, false}, {251, 251, 446, -1, true}, {252, 259, 447, -1, false},
        {260, 260, 455, -1, true}, {261, 268, 456, -1, false}, {269, 269, 464, -1, true},
        {270, 273, 465, -1, false}, {274, 274, 426, -1, false}, {275, 278, 429, -1, false},
        {279, 279, 404, -1, false}, {280, 281, 407, -1, false}, {282, 282, 579, -1, false},
        {283, 284, 475, -1, false}, {285, 286, 478, -1, false}, {287, 287, 480, -1, true},
        {288, 291, 481, -1, false}, {292, 295, 634, -1, false}, {296, 296, 638, -1, true},
        {297, 300, 639, -1, false}, {301, 301, 657, 485, false}, {302, 304, 659, 486, false},
        {305, 305, 662, 489, true}, {306, 309, 663, 490, false}, {310, 313, 485, -1, false},
        {314, 314, 489, -1, true}, {315, 318, 490, -1, false}, {319, 326, 497, -1, false},
        {327, 327, 506, -1, false}, {328, 328, 508, -1, false}, {329, 334, 509, 518, false},
        {335, 335, 515, 525, false}, {336, 336, 516, 524, false}, {337, 337, 517, 526, true},
        {338, 343, 509, 518, false}, {344, 344, 515, 525, false}, {345, 345, 516, 524, false},
        {346, 346, 517, 526, true}, {347, 354, 518, -1, false}, {355, 355, 526, -1, true},
        {356, 363, 527, -1, false}, {364, 364, 535, -1, true}, {365, 372, 615, -1, false},
        {373, 373, 623, -1, true}, {374, 377, 536, -1, false}, {378, 381, 541, -1, false},
        {382, 389, 667, -1, false},
    };
    std::map<int, Slot> out;
    for (const Run& run : runs)
      for (int slot = run.first; slot <= run.last; ++slot) {
        const int step = slot - run.first;
        const int land = run.land ? run.land + step : 0;
        const int port = run.port < 0 ? land : (run.port ? run.port + step : 0);
        out[slot] = {land, port, run.opaque};
      }
    return out;
  }();
  return slots;
}

// Every PNG resource the catalogue names, with its alpha flag.
inline std::map<int, bool> CataloguePictures() {
  std::map<int, bool> opaqueById;
  for (const auto& [slot, s] : Catalogue())
    for (int id : {s.landscape, s.portrait})
      if (id) opaqueById[id] = s.opaque;
  return opaqueById;
}

// The toolkit's image id lists as the application hands them over: frame
// skins (6 ids), menu-item images (10), menu images (26), per screen set.
struct ToolkitSet {
  std::vector<int> frame, items, menu;
};

inline std::vector<int> Ids(std::initializer_list<std::pair<int, int>> ranges) {
  std::vector<int> out;
  for (auto [a, b] : ranges)
    for (int id = a; id <= b; ++id) out.push_back(id);
  return out;
}

inline const std::map<std::string, ToolkitSet>& Toolkit() {
  static const std::map<std::string, ToolkitSet> sets = {
      {"theme 0",
       {Ids({{643, 648}}), {553, 554, 555, 556, 557, 558, 571, 572, 571, 572},
        Ids({{545, 552}, {559, 559}, {561, 561}, {560, 560}, {573, 578}, {562, 570}})}},
      {"theme 1",
       {Ids({{643, 648}}), {692, 693, 694, 695, 557, 558, 571, 572, 571, 572},
        Ids({{684, 691}, {559, 559}, {561, 561}, {560, 560}, {573, 578}, {562, 570}})}},
      {"small",
       {{649, 650, 645, 652, 653, 654}, {553, 589, 590, 591, 592, 593, 606, 607, 606, 607},
        Ids({{580, 587}, {594, 594}, {596, 596}, {595, 595}, {608, 613}, {597, 605}})}},
  };
  return sets;
}

inline std::set<int> ToolkitPictures() {
  std::set<int> ids;
  for (const auto& [name, set] : Toolkit())
    for (const auto* list : {&set.frame, &set.items, &set.menu}) ids.insert(list->begin(), list->end());
  return ids;
}

// --- reading PNGs ---------------------------------------------------------------

inline std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Png {
  bool ok = false;
  int width = 0, height = 0;
  int colourType = -1;
  std::set<std::string> chunks;
  std::vector<uint8_t> rgba;  // decoded, straight alpha
};

inline uint32_t Be32(const uint8_t* p) { return (uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }

inline Png ReadPng(const std::vector<uint8_t>& bytes) {
  Png out;
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (bytes.size() < 33 || !std::equal(kSignature, kSignature + 8, bytes.begin())) return out;
  for (size_t pos = 8; pos + 12 <= bytes.size();) {
    const uint32_t length = Be32(&bytes[pos]);
    out.chunks.insert(std::string(bytes.begin() + pos + 4, bytes.begin() + pos + 8));
    pos += 12 + length;
  }
  out.colourType = bytes[25];
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return out;
  image.format = PNG_FORMAT_RGBA;
  out.width = static_cast<int>(image.width);
  out.height = static_cast<int>(image.height);
  out.rgba.resize(PNG_IMAGE_SIZE(image));
  out.ok = png_image_finish_read(&image, nullptr, out.rgba.data(), 0, nullptr) != 0;
  return out;
}

}  // namespace artfacts
