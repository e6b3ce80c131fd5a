#include "Zip.h"

#include <zip.h>

#include <deque>
#include <mutex>

#include "CodePage.h"
#include "Exceptions.h"

namespace platform {

namespace {

std::mutex limitsLock;
ZipLimits limits;

std::string ErrorText(zip_error_t* error) { return zip_error_strerror(error); }

std::string ArchiveError(zip_t* za) { return ErrorText(zip_get_error(za)); }

[[noreturn]] void Fail(const std::string& utf8Message) { throw Exception(Utf8ToWide(utf8Message)); }

}  // namespace

ZipLimits GetZipLimits() {
  std::lock_guard<std::mutex> guard(limitsLock);
  return limits;
}

void SetZipLimits(const ZipLimits& value) {
  std::lock_guard<std::mutex> guard(limitsLock);
  limits = value;
}

std::string ZipMethodName(int32_t method) {
  const char* name = "unknown";
  switch (method) {
    case ZIP_CM_STORE: name = "store"; break;
    case ZIP_CM_SHRINK: name = "shrink"; break;
    case ZIP_CM_REDUCE_1: case ZIP_CM_REDUCE_2: case ZIP_CM_REDUCE_3: case ZIP_CM_REDUCE_4: name = "reduce"; break;
    case ZIP_CM_IMPLODE: name = "implode"; break;
    case ZIP_CM_DEFLATE: name = "deflate"; break;
    case ZIP_CM_DEFLATE64: name = "deflate64"; break;
    case ZIP_CM_PKWARE_IMPLODE: name = "PKWARE implode"; break;
    case ZIP_CM_BZIP2: name = "bzip2"; break;
    case ZIP_CM_LZMA: name = "LZMA"; break;
    case ZIP_CM_TERSE: name = "IBM TERSE"; break;
    case ZIP_CM_LZ77: name = "IBM LZ77"; break;
    case ZIP_CM_LZMA2: name = "LZMA2"; break;
    case 93: name = "Zstandard"; break;
    case ZIP_CM_XZ: name = "XZ"; break;
    case ZIP_CM_JPEG: name = "JPEG"; break;
    case ZIP_CM_WAVPACK: name = "WavPack"; break;
    case ZIP_CM_PPMD: name = "PPMd"; break;
    default: break;
  }
  return std::string(name) + " (" + std::to_string(method) + ")";
}

struct ZipArchive::Impl {
  zip_t* za = nullptr;
  std::string path;
  std::deque<std::string> buffers;  // item data kept alive until the archive is written
};

ZipArchive::ZipArchive(const std::string& utf8Path, Mode mode) : impl_(std::make_unique<Impl>()) {
  impl_->path = utf8Path;
  int code = 0;
  impl_->za = zip_open(utf8Path.c_str(), mode == Mode::Read ? ZIP_RDONLY : ZIP_CREATE, &code);
  if (impl_->za == nullptr) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    const std::string text = ErrorText(&error);
    zip_error_fini(&error);
    Fail("zip archive " + utf8Path + " cannot be opened: " + text);
  }
}

ZipArchive::~ZipArchive() {
  if (impl_ && impl_->za) zip_discard(impl_->za);
}

int64_t ZipArchive::Count() const { return zip_get_num_entries(impl_->za, 0); }

ZipItem ZipArchive::Item(int64_t index) const {
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat_index(impl_->za, static_cast<zip_uint64_t>(index), 0, &st) != 0)
    Fail("zip archive " + impl_->path + ": item " + std::to_string(index) + ": " + ArchiveError(impl_->za));
  ZipItem item;
  if (st.valid & ZIP_STAT_NAME) item.Name = st.name;
  if (st.valid & ZIP_STAT_SIZE) item.Size = st.size;
  if (st.valid & ZIP_STAT_COMP_SIZE) item.CompressedSize = st.comp_size;
  if (st.valid & ZIP_STAT_COMP_METHOD) item.Method = st.comp_method;
  if (st.valid & ZIP_STAT_ENCRYPTION_METHOD) item.Encrypted = st.encryption_method != ZIP_EM_NONE;
  return item;
}

void ZipArchive::Read(int64_t index, const std::function<void(const char*, size_t)>& sink, uint64_t& total) const {
  const ZipItem item = Item(index);
  const std::string what = "zip archive " + impl_->path + ", item " + item.Name + ": ";
  if (item.IsFolder()) Fail(what + "is a folder");
  if (item.Encrypted) Fail(what + "is encrypted");
  if (!zip_compression_method_supported(item.Method, 0))
    Fail(what + "compression method " + ZipMethodName(item.Method) + " is not supported");
  const ZipLimits lim = GetZipLimits();
  const std::string sizeLimit = what + "larger than the extraction limit of " + std::to_string(lim.MaxItemSize) + " bytes";
  const std::string totalLimit =
      what + "the items expand to more than the extraction limit of " + std::to_string(lim.MaxTotalSize) + " bytes";
  if (item.Size > lim.MaxItemSize) Fail(sizeLimit);
  if (item.Size > lim.MaxTotalSize || total + item.Size > lim.MaxTotalSize) Fail(totalLimit);
  // The sizes in the directory may lie: the data is counted as it comes.
  const uint64_t ratioCap = lim.MaxRatio == 0 ? UINT64_MAX
                                              : (item.CompressedSize > (UINT64_MAX - lim.RatioAllowance) / lim.MaxRatio
                                                     ? UINT64_MAX
                                                     : item.CompressedSize * lim.MaxRatio + lim.RatioAllowance);
  zip_file_t* file = zip_fopen_index(impl_->za, static_cast<zip_uint64_t>(index), 0);
  if (file == nullptr) Fail(what + ArchiveError(impl_->za));
  struct Closer {
    zip_file_t* f;
    ~Closer() { zip_fclose(f); }
  } closer{file};
  std::string buffer(1 << 16, '\0');
  uint64_t done = 0;
  for (;;) {
    const zip_int64_t n = zip_fread(file, buffer.data(), buffer.size());
    if (n < 0) Fail(what + ErrorText(zip_file_get_error(file)));
    if (n == 0) break;
    done += static_cast<uint64_t>(n);
    total += static_cast<uint64_t>(n);
    if (done > lim.MaxItemSize) Fail(sizeLimit);
    if (total > lim.MaxTotalSize) Fail(totalLimit);
    if (done > ratioCap)
      Fail(what + "expands more than " + std::to_string(lim.MaxRatio) + " times its compressed size");
    sink(buffer.data(), static_cast<size_t>(n));
  }
  if (done != item.Size) Fail(what + "holds " + std::to_string(done) + " bytes instead of " + std::to_string(item.Size));
}

void ZipArchive::AddData(const Utf8String& name, std::string bytes) {
  impl_->buffers.push_back(std::move(bytes));
  const std::string& data = impl_->buffers.back();
  zip_source_t* src = zip_source_buffer(impl_->za, data.data(), data.size(), 0);
  if (src == nullptr) Fail("zip archive " + impl_->path + ", item " + name + ": " + ArchiveError(impl_->za));
  const zip_int64_t index = zip_file_add(impl_->za, name.c_str(), src, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8);
  if (index < 0) {
    zip_source_free(src);
    Fail("zip archive " + impl_->path + ", item " + name + ": " + ArchiveError(impl_->za));
  }
  zip_set_file_compression(impl_->za, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 0);
}

void ZipArchive::AddFile(const Utf8String& name, const std::string& utf8File) {
  zip_source_t* src = zip_source_file(impl_->za, utf8File.c_str(), 0, -1);
  if (src == nullptr) Fail("zip archive " + impl_->path + ", file " + utf8File + ": " + ArchiveError(impl_->za));
  const zip_int64_t index = zip_file_add(impl_->za, name.c_str(), src, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8);
  if (index < 0) {
    zip_source_free(src);
    Fail("zip archive " + impl_->path + ", item " + name + ": " + ArchiveError(impl_->za));
  }
  zip_set_file_compression(impl_->za, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 0);
}

void ZipArchive::SetComment(const Utf8String& comment) {
  if (zip_set_archive_comment(impl_->za, comment.empty() ? nullptr : comment.data(),
                              static_cast<zip_uint16_t>(comment.size())) != 0)
    Fail("zip archive " + impl_->path + ": " + ArchiveError(impl_->za));
}

void ZipArchive::Save() {
  if (zip_close(impl_->za) != 0) Fail("zip archive " + impl_->path + " cannot be written: " + ArchiveError(impl_->za));
  impl_->za = nullptr;
  impl_->buffers.clear();
}

}  // namespace platform
