// Alias-reduction butterflies: ISO/IEC 11172-3 Table B.9, cs = 1/sqrt(1+c^2),
// ca = c/sqrt(1+c^2) for c = -0.6, -0.535, -0.33, -0.185, -0.095, -0.041,
// -0.0142, -0.0037 (values to 9 digits).
#include "mp3dec/tables.h"

namespace mp3dec {

constexpr float kAliasCs[8] = {0.857492926f, 0.881741997f, 0.949628649f, 0.983314592f,
                               0.995517816f, 0.999160558f, 0.999899195f, 0.999993155f};
constexpr float kAliasCa[8] = {-0.514495755f, -0.471731969f, -0.313377454f, -0.181913200f,
                               -0.094574193f, -0.040965583f, -0.014198569f, -0.003699975f};
static_assert(kAliasCs[0] > 0.857f && kAliasCs[0] < 0.858f);
static_assert(kAliasCa[7] < -0.0036f && kAliasCa[7] > -0.0038f);

}  // namespace mp3dec
