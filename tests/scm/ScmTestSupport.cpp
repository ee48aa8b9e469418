#include "ScmTestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

void ScmTempDirs::SetUp() {
    char pattern[] = "/tmp/scm_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_Root = pattern;
    m_UnitDir = m_Root + "/units";
    m_RuntimeDir = m_Root + "/run";
    mkdir(m_UnitDir.c_str(), 0755);
    setenv("SVCPROC_SCM_UNIT_DIR", m_UnitDir.c_str(), 1);
    setenv("SVCPROC_RUNTIME_DIR", m_RuntimeDir.c_str(), 1);
    unsetenv("NOTIFY_SOCKET");
    unsetenv("SVCPROC_SCM");
}

void ScmTempDirs::TearDown() {
    std::error_code ignored;
    std::filesystem::remove_all(m_Root, ignored);
    unsetenv("SVCPROC_SCM_UNIT_DIR");
    unsetenv("SVCPROC_RUNTIME_DIR");
    unsetenv("NOTIFY_SOCKET");
    unsetenv("SVCPROC_SCM");
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << text;
}

bool PathExists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}
