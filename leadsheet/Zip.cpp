#include "leadsheet/Zip.h"

#include <zip.h>

#include <algorithm>
#include <memory>

#include "leadsheet/Xml.h"

namespace varimel {

namespace {

struct ArchiveCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct EntryCloser {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using Archive = std::unique_ptr<zip_t, ArchiveCloser>;

// The archive over the bytes in memory (not copied, read only).
Archive openArchive(const std::vector<uint8_t>& bytes, std::string& problem) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
    zip_t* archive =
        source ? zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error) : nullptr;
    if (!archive) {
        problem = std::string("not a readable zip archive (") + zip_error_strerror(&error) + ")";
        zip_source_free(source);
    }
    zip_error_fini(&error);
    return Archive(archive);
}

bool unpack(zip_t* archive, zip_uint64_t index, size_t limit, std::string& content,
            std::string& problem) {
    zip_stat_t stat;
    zip_stat_init(&stat);
    const std::string name = zip_get_name(archive, index, 0) ? zip_get_name(archive, index, 0) : "";
    if (zip_stat_index(archive, index, 0, &stat) != 0) {
        problem = "a damaged zip entry: " + name;
        return false;
    }
    if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE) {
        problem = name + " is encrypted";
        return false;
    }
    if ((stat.valid & ZIP_STAT_SIZE) && stat.size > limit) {
        problem = name + " unpacks to more than the size limit";
        return false;
    }
    if ((stat.valid & ZIP_STAT_COMP_METHOD) &&
        !zip_compression_method_supported(static_cast<zip_int32_t>(stat.comp_method), 0)) {
        problem = name + " is packed in a way that is not read (method " +
                  std::to_string(stat.comp_method) + ")";
        return false;
    }
    const std::unique_ptr<zip_file_t, EntryCloser> file(zip_fopen_index(archive, index, 0));
    if (!file) {
        problem = name + " cannot be unpacked (" + zip_strerror(archive) + ")";
        return false;
    }
    content.clear();
    // The directory's size is the packer's claim; the limit holds for what really comes out.
    char buffer[1 << 16];
    while (true) {
        const zip_int64_t got = zip_fread(file.get(), buffer, sizeof buffer);
        if (got < 0) {
            zip_error_t* error = zip_file_get_error(file.get());
            problem = name + " cannot be unpacked (" +
                      (zip_error_code_zip(error) == ZIP_ER_CRC ? std::string("damaged: CRC error")
                                                               : zip_error_strerror(error)) +
                      ")";
            return false;
        }
        if (got == 0) break;
        if (static_cast<size_t>(got) > limit - content.size()) {
            problem = name + " unpacks to more than the size limit";
            return false;
        }
        content.append(buffer, static_cast<size_t>(got));
    }
    return true;
}

bool isScoreName(const std::string& name) {
    auto endsWith = [&name](std::string_view tail) {
        return name.size() > tail.size() &&
               name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
    };
    return name.rfind("META-INF/", 0) != 0 && (endsWith(".xml") || endsWith(".musicxml"));
}

}  // namespace

bool zipEntryNames(const std::vector<uint8_t>& bytes, std::vector<std::string>& names,
                   std::string& problem) {
    const Archive archive = openArchive(bytes, problem);
    if (!archive) return false;
    names.clear();
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name = zip_get_name(archive.get(), static_cast<zip_uint64_t>(i), 0);
        names.emplace_back(name ? name : "");
    }
    return true;
}

bool readZipEntry(const std::vector<uint8_t>& bytes, const std::string& name, size_t limit,
                  std::string& content, std::string& problem) {
    const Archive archive = openArchive(bytes, problem);
    if (!archive) return false;
    const zip_int64_t index = zip_name_locate(archive.get(), name.c_str(), 0);
    if (index < 0) {
        problem = "the archive has no " + name;
        return false;
    }
    return unpack(archive.get(), static_cast<zip_uint64_t>(index), limit, content, problem);
}

bool readMxlScore(const std::vector<uint8_t>& bytes, size_t limit, std::string& score,
                  std::string& problem, std::vector<std::string>& warnings) {
    const Archive archive = openArchive(bytes, problem);
    if (!archive) return false;
    std::string rootFile;
    const zip_int64_t container = zip_name_locate(archive.get(), "META-INF/container.xml", 0);
    if (container >= 0) {
        std::string text;
        if (!unpack(archive.get(), static_cast<zip_uint64_t>(container), limit, text, problem))
            return false;
        xml::Element root;
        std::string error;
        if (xml::parse(text, root, error)) {
            if (const xml::Element* files = root.child("rootfiles"))
                if (const xml::Element* file = files->child("rootfile"))
                    if (const std::string* path = file->attribute("full-path")) rootFile = *path;
        } else {
            // Notation programs have written containers with the score's name unescaped; the
            // score is still in the archive.
            warnings.push_back("META-INF/container.xml cannot be read (" + error +
                               "); the archive's score file was opened instead");
        }
    }
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* entry = zip_get_name(archive.get(), static_cast<zip_uint64_t>(i), 0);
        if (!entry) continue;
        const std::string name = entry;
        if (rootFile.empty() ? isScoreName(name) : name == rootFile)
            return unpack(archive.get(), static_cast<zip_uint64_t>(i), limit, score, problem);
    }
    problem = rootFile.empty() ? "the archive holds no score" : "the archive has no " + rootFile;
    return false;
}

}  // namespace varimel
