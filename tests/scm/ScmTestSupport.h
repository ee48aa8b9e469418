#pragma once

#include <gtest/gtest.h>
#include <string>

#include "Scm.h"

// A fresh unit directory and runtime directory per test, set in the
// environment the layer reads.
class ScmTempDirs : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string m_Root;
    std::string m_UnitDir;
    std::string m_RuntimeDir;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);
bool PathExists(const std::string& path);
