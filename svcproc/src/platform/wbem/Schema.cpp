#include "Schema.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <fstream>
#include <mutex>
#include <sstream>

namespace svcproc::wbem {
namespace {

const Qualifier* FindIn(const std::vector<Qualifier>& qualifiers, const std::wstring& name) {
    for (const Qualifier& qualifier : qualifiers) {
        if (NamesEqual(qualifier.name, name)) {
            return &qualifier;
        }
    }
    return nullptr;
}

bool IsTrue(const Qualifier* qualifier) {
    if (qualifier == nullptr || qualifier->value.isArray || qualifier->value.items.size() != 1) {
        return false;
    }
    const MofConstant& value = qualifier->value.items[0];
    return value.kind == MofConstant::Kind::Boolean && value.boolean;
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The directory of the library that holds this code.
std::string LibraryDirectory() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&DefaultSchemaPath), &info) == 0 ||
        info.dli_fname == nullptr) {
        return {};
    }
    std::string path = info.dli_fname;
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

constexpr size_t kMaxSchemaBytes = 16u << 20;

} // namespace

bool NamesEqual(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::towlower(a[i]) != std::towlower(b[i])) {
            return false;
        }
    }
    return true;
}

std::wstring NormaliseNamespace(const std::wstring& nameSpace) {
    std::wstring text = nameSpace;
    for (wchar_t& c : text) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    if (text.rfind(L"\\\\", 0) == 0) {
        size_t end = text.find(L'\\', 2);
        text = end == std::wstring::npos ? std::wstring() : text.substr(end + 1);
    }
    while (!text.empty() && text.back() == L'\\') {
        text.pop_back();
    }
    return text;
}

const Qualifier* PropertyDecl::FindQualifier(const std::wstring& qualifier) const {
    return FindIn(qualifiers, qualifier);
}

bool PropertyDecl::HasTrueQualifier(const std::wstring& qualifier) const {
    return IsTrue(FindQualifier(qualifier));
}

const Qualifier* ClassDecl::FindQualifier(const std::wstring& qualifier) const {
    return FindIn(qualifiers, qualifier);
}

bool ClassDecl::HasTrueQualifier(const std::wstring& qualifier) const {
    return IsTrue(FindQualifier(qualifier));
}

int ClassDecl::FindProperty(const std::wstring& property) const {
    for (size_t i = 0; i < properties.size(); ++i) {
        if (NamesEqual(properties[i].name, property)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool ClassDecl::InheritsFrom(const std::wstring& ancestor) const {
    if (NamesEqual(name, ancestor)) {
        return true;
    }
    for (const std::wstring& entry : ancestors) {
        if (NamesEqual(entry, ancestor)) {
            return true;
        }
    }
    return false;
}

std::wstring ClassDecl::Provider() const {
    const Qualifier* qualifier = FindQualifier(L"provider");
    if (qualifier == nullptr || qualifier->value.isArray || qualifier->value.items.size() != 1 ||
        qualifier->value.items[0].kind != MofConstant::Kind::String) {
        return {};
    }
    return qualifier->value.items[0].text;
}

bool Schema::AddClass(std::shared_ptr<const ClassDecl> decl) {
    if (!decl || FindClass(decl->nameSpace, decl->name)) {
        return false;
    }
    m_vClasses.push_back(std::move(decl));
    return true;
}

std::shared_ptr<const ClassDecl> Schema::FindClass(const std::wstring& nameSpace,
                                                   const std::wstring& name) const {
    std::wstring wanted = NormaliseNamespace(nameSpace);
    for (const auto& decl : m_vClasses) {
        if (NamesEqual(decl->name, name) && NamesEqual(decl->nameSpace, wanted)) {
            return decl;
        }
    }
    return nullptr;
}

bool Schema::HasNamespace(const std::wstring& nameSpace) const {
    std::wstring wanted = NormaliseNamespace(nameSpace);
    for (const auto& decl : m_vClasses) {
        if (NamesEqual(decl->nameSpace, wanted)) {
            return true;
        }
    }
    return false;
}

std::vector<std::shared_ptr<const ClassDecl>>
Schema::ClassesOfProvider(const std::wstring& provider, const std::wstring& nameSpace) const {
    std::vector<std::shared_ptr<const ClassDecl>> result;
    std::wstring wanted = NormaliseNamespace(nameSpace);
    for (const auto& decl : m_vClasses) {
        if (NamesEqual(decl->Provider(), provider) &&
            (wanted.empty() || NamesEqual(decl->nameSpace, wanted))) {
            result.push_back(decl);
        }
    }
    return result;
}

std::shared_ptr<const Schema> LoadSchemaFile(const std::string& path, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        if (error) {
            *error = path + ": cannot open: " + std::strerror(errno);
        }
        return nullptr;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (text.str().size() > kMaxSchemaBytes) {
        if (error) {
            *error = path + ": file too large";
        }
        return nullptr;
    }
    auto schema = std::make_shared<Schema>();
    std::string message;
    if (!ParseMof(text.str(), path, schema.get(), &message)) {
        if (error) {
            *error = message;
        }
        return nullptr;
    }
    return schema;
}

std::string DefaultSchemaPath() {
    const char* overridden = std::getenv("SVCPROC_SCHEMA");
    if (overridden != nullptr && *overridden != '\0') {
        return overridden;
    }
    std::string directory = LibraryDirectory();
    if (!directory.empty()) {
        for (const char* relative : {SVCP_SCHEMA_RELATIVE_TO_LIB, "../share/svcproc"}) {
            std::string candidate = directory + "/" + relative + "/vqx.mof";
            if (FileExists(candidate)) {
                return candidate;
            }
        }
    }
    return SVCP_SCHEMA_INSTALLED_PATH;
}

std::shared_ptr<const Schema> GetSchema(std::string* error) {
    static std::mutex mutex;
    static std::string loadedPath;
    static std::shared_ptr<const Schema> loaded;
    std::string path = DefaultSchemaPath();
    std::lock_guard lock(mutex);
    if (loaded && path == loadedPath) {
        return loaded;
    }
    std::shared_ptr<const Schema> schema = LoadSchemaFile(path, error);
    if (schema) {
        loaded = schema;
        loadedPath = path;
    }
    return schema;
}

} // namespace svcproc::wbem
