// TDES: a self-contained single-DES engine (FIPS 46-3) with the four classic block modes, PKCS #5
// style padding of whole messages, operations on byte strings, streams and files, a CBC message
// authentication code, and a 64-symbol text form of its cipher texts.
//
// Calling order: create, set CipherMode (and StringMode for the string operations), load the key,
// load the vector unless the mode is ECB, then any number of operations. The chaining value carries
// over from one operation to the next; load the vector again to restart a chain.
//
// Key and vector loading fold their bytes: key byte i lands on position i mod 8 (later bytes
// overwrite earlier ones, a short key is filled with zeros); vector byte i is exclusive-ored into
// position i mod 8. The low (parity) bit of every key byte is ignored.
//
// Padding: p bytes of value p after the message, p = 8 - (length mod 8), so 1 to 8 bytes.
//
// Text form (StringMode smEncode): the bytes packed 3 into 4 symbols, most significant bits first,
// over the alphabet "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", without
// padding symbols (n bytes give ceil(4n/3) symbols). The reader refuses every other character with
// EConvertError "DES: Error converting from Base64 - invalid character".
//
// Errors: EKeyError (key, vector, mode), EFileError (files and streams), EInputError (cipher text
// that cannot be a whole padded message: shorter than one block, not a whole number of blocks, or
// with a padding count larger than the data it ends). A TDES object is not shareable between
// threads; the codecs create one per call.
#pragma once

#include <array>
#include <cstdint>
#include <iosfwd>
#include <string_view>

#include "Text.h"

using TBlock = std::array<std::uint8_t, 8>;
using PBlock = TBlock*;

enum class TCipherMode : std::uint8_t { CBC, ECB, CFB, OFB };
enum TStringMode : std::uint8_t { smEncode, smNormal };

// The cipher state.
struct Tdes_ctx {
  bool KeyInit = false;
  bool IVInit = false;
  TBlock IV{};                     // the loaded vector, then the running chaining value
  TBlock ct{};                     // the incoming block of the chaining modes
  std::uint32_t FEncKey[32] = {};  // encryption key schedule
  std::uint32_t FDecKey[32] = {};  // decryption key schedule
  TBlock ByteBuffer{};             // the work block every block operation transforms in place
};

class TDES {
 public:
  static constexpr int kChunkSize = 4096;

  TDES() = default;
  ~TDES();  // wipes the cipher state and the chunk buffer
  TDES(const TDES&) = delete;
  TDES& operator=(const TDES&) = delete;

  TCipherMode CipherMode() const { return FCipherMode; }
  void SetCipherMode(TCipherMode Value) { FCipherMode = Value; }
  TStringMode StringMode() const { return FStringMode; }
  void SetStringMode(TStringMode Value) { FStringMode = Value; }
  bool CrcCaclFlage() const { return FCrcCaclFlage; }
  void SetCrcCaclFlage(bool Value) { FCrcCaclFlage = Value; }
  std::int32_t Crc32Value() const { return FCrc32Value; }
  void SetCrc32Value(std::int32_t Value) { FCrc32Value = Value; }
  bool EncDecNoPosFlage() const { return FEncDecNoPosFlage; }
  void SetEncDecNoPosFlage(bool Value) { FEncDecNoPosFlage = Value; }

  void InitialiseString(std::string_view Key);
  void InitialiseByte(const std::uint8_t* Key, std::int32_t Keylength);
  void LoadIVString(std::string_view IVString);
  void LoadIVByte(const std::uint8_t* IVByte, std::int32_t IVLength);

  void EncBlock(const TBlock& Input, TBlock& Output);
  void DecBlock(const TBlock& Input, TBlock& Output);

  void EncString(std::string_view Input, AnsiString& Output);
  void DecString(std::string_view Input, AnsiString& Output);

  // Whole streams in 4096-byte chunks. Without EncDecNoPosFlage both streams start at their
  // beginnings and the whole input is taken; with it, both are used from where they stand.
  // With CrcCaclFlage the running Crc32Value takes in the plain text (set it to 0 first).
  void EncStream(std::istream& Input, std::ostream& Output);
  void DecStream(std::istream& Input, std::ostream& Output);

  // Whole files in 4096-byte chunks; the names are 8-bit (ANSI) texts. When the operation fails
  // after the output file was created, the incomplete output file is removed.
  void EncFile(std::string_view InputFileName, std::string_view OutputFileName);
  void DecFile(std::string_view InputFileName, std::string_view OutputFileName);

  void CBCMACBlock(TBlock& MAC);
  void CBCMACString(AnsiString& MAC);

  void Burn();
  static AnsiString GetVersion() { return "DES 1.15"; }

 private:
  AnsiString EncodeText(std::string_view Bytes) const;
  AnsiString DecodeText(std::string_view Text) const;
  static int DecodeTextChar(char c);
  void EncryptBuffer(std::size_t n);
  void DecryptBuffer(std::size_t n);
  void EncryptBlockInMode();
  void DecryptBlockInMode();
  void CheckKeyAndIV() const;
  void SetKey(const TBlock& Key);
  std::size_t PadBuffer(std::size_t n);

  Tdes_ctx ctx;
  std::uint8_t FBuffer[kChunkSize + 8] = {};
  std::uint8_t* PtrBuffer = FBuffer;
  TCipherMode FCipherMode = TCipherMode::CBC;
  TStringMode FStringMode = smEncode;
  bool FCrcCaclFlage = false;
  std::int32_t FCrc32Value = 0;
  bool FEncDecNoPosFlage = false;
};

// The DES core on one block with a 32-word schedule, and one schedule (forward or reverse) from
// 8 key bytes.
void DesBlock(const std::uint32_t* Keys, TBlock& Block);
void DesKeySchedule(const TBlock& Key, bool Decrypt, std::uint32_t* Schedule);
