// A temporary working directory for tests that start programs by their bare name: made fresh,
// entered, and on destruction left and removed with everything in it.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

struct ScratchDir {
    std::filesystem::path path;
    std::filesystem::path previous;

    ScratchDir() {
        std::random_device random;
        previous = std::filesystem::current_path();
        for (int attempt = 0; attempt < 100; ++attempt) {
            path = std::filesystem::temp_directory_path() /
                   ("kavro-test-" + std::to_string(random()) + std::to_string(random()));
            if (std::filesystem::create_directory(path)) break;
        }
        std::filesystem::current_path(path);
    }
    ~ScratchDir() {
        std::error_code error;
        std::filesystem::current_path(previous, error);
        std::filesystem::remove_all(path, error);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // A link in the directory to a program built beside the tests.
    void link_program(const std::string& directory, const std::string& name,
                      const std::string& link_name) const {
        std::filesystem::create_symlink(std::filesystem::path(directory) / name, path / link_name);
    }
    void write_file(const std::string& name, const std::string& text) const {
        std::ofstream(path / name) << text;
    }
};
