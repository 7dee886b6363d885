// FlvTestFile: bytes written to a file in a temporary folder, with an input stream open on it.
// The file can grow afterwards (Append), as a file still being written does. Header only: the
// test programs that use it link the byte streams themselves.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string_view>

#include "io/InputStream.h"
#include "tests/support/TempDir.h"

class FlvTestFile {
  public:
    explicit FlvTestFile(std::string_view bytes, std::string_view name = "test.flv") : name_(name) {
        temp_.Write(name_, bytes);
        input_.Open(temp_.Wide(name_));
        EXPECT_TRUE(input_.IsOpen());
    }

    CInputStream& Input() { return input_; }
    // The stream positioned at `offset` (13: the first tag after the file header), also when
    // that is the end of the file (where SeekTo cannot land).
    CInputStream& InputAt(std::uint64_t offset) {
        EXPECT_TRUE(input_.SeekTo(offset) || (input_.SeekTo(0) && input_.SkipBytes(offset)));
        return input_;
    }

    // Appends `bytes` to the file and lets the stream measure it again.
    void Append(std::string_view bytes) {
        std::ofstream(temp_.Path() / name_, std::ios::binary | std::ios::app)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        EXPECT_TRUE(input_.RefreshSize());
    }
    // Writes `bytes` over the file's bytes at `offset` (as a recorder fills the file it
    // pre-allocated) and lets the stream measure it again.
    void Overwrite(std::uint64_t offset, std::string_view bytes) {
        std::fstream out(temp_.Path() / name_, std::ios::binary | std::ios::in | std::ios::out);
        out.seekp(static_cast<std::streamoff>(offset));
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        EXPECT_TRUE(input_.RefreshSize());
    }

  private:
    TempDir temp_;
    std::string name_;
    CInputStream input_;
};
