// The library's own key material, in one place. Included only by the cipher and script units.
//
// None of these values is a secret in the cryptographic sense: they make the library's codecs
// agree among themselves. Texts encoded by other programs under other keys cannot be read here,
// and values scrambled by the KQF document system under its own tables do not decode to their
// originals with the tables below.
//
// Each key is joined anew on every call from the pieces below, in the form the codecs document:
//   Mega / Service / Internal pass key: round(sqrt(SqrtOf)), Int1, Int2, Int3, round(Real)
//   logon key:       the stored 15-digit piece, then LogonInt
//   private prefix:  round(sqrt(PrivateSqrtOf)), PrivateInt1, PrivateInt2 (negative), ..3, ..4
//   script key:      ScriptInt1, the stored 2-digit piece, the stored 9-digit piece, ScriptInt2
//   common encryption key: 16 characters, code(i) = CommonKeyFactor * i + CommonKeyOffset
//   common security key:   the stored text, each code lowered by one at odd positions (1-based)
//                          and raised by one at even positions; it gives the SecuID text itself
#pragma once

#include <cstdint>
#include <string_view>

namespace qzCipherKeys {

// The text every caller passes to the key builders; any other text gives empty keys.
inline constexpr std::string_view SecuID =
    "qpwoeirutyalskdjfhgzmxncbv0192837465lkjhgfdsapoiuytrewqmnbvcxz56473";

struct PassKeyPieces {
  double SqrtOf;
  std::int64_t Int1, Int2, Int3;
  double Real;
};
inline constexpr PassKeyPieces Mega{7331407.0, 48271, 65539, 16807, 2718.281828};
inline constexpr PassKeyPieces Service{9026411.0, 69069, 1103515, 22695477, 3141.5926535};
inline constexpr PassKeyPieces Internal{5915587.0, 40692, 2147483, 62089911, 1414.2135623};

inline constexpr std::string_view LogonStoredPiece = "806451932718406";
inline constexpr std::int64_t LogonInt = 7723;

inline constexpr double PrivateSqrtOf = 4477457.0;
inline constexpr std::int64_t PrivateInt1 = 30011, PrivateInt2 = -2749, PrivateInt3 = 91193,
                              PrivateInt4 = 587;

inline constexpr std::int64_t ScriptInt1 = 1907, ScriptInt2 = 2203;
inline constexpr std::string_view ScriptStoredPiece2 = "43";
inline constexpr std::string_view ScriptStoredPiece9 = "615298047";

inline constexpr int CommonKeyFactor = 3, CommonKeyOffset = 62;

inline constexpr std::string_view CommonSecurityStored =
    "roxnfhstuxbktjeigghynwobcu10:1928374mjkgheerbophvxuqfvrloawbyy65564";

// KQF value decoder: 71 symbols, the 71 outputs paired with them by position (UTF-8 bytes;
// six of them two bytes long), and 10 key rows of eight digits.
inline constexpr std::string_view KqfSymbols =
    "VoL9WG.ZESmrb(dA*Oja4H6!-Rq8IYUufnN_DPsepF0KC1xB5wzy~MQ3t7cv$)iT2glkJXh";
inline constexpr const char* KqfOutputs[71] = {
    "m", "c", "V", "s", "W", "z", "3", "B", "6", "\xC3\xB6", "A", "p", "x", "P", "C", "E", "I", "H",
    "-", "v", "L", "\xC3\xA4", "D", "Y", "J", "a", "\xC3\xBC", "7", "o", "t", "\xC3\x9C", "O",
    "\xC3\x84", "S", "M", "K", " ", "5", "8", "e", "h", "j", "T", "d", "0", "u", "G", "l", "4", "9",
    "w", "Z", ".", "i", "R", "q", "k", "X", "n", "y", "N", "r", "F", "U", "2", "g", "1",
    "\xC3\x96", "Q", "f", "b"};
inline constexpr const char* KqfKeyRows[10] = {"23526915", "95641906", "97844368", "21448326",
                                               "65367030", "15925953", "87680909", "81729008",
                                               "40643074", "22460291"};

}  // namespace qzCipherKeys
