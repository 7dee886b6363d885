// CFlashObject: the abstract base of every FLV element (the file header, the tag bodies and
// the tag wrapper).
//
// An element knows its name, copies itself, reports the number of body bytes it occupies when
// written, writes itself at an output stream's cursor, and reads itself from an input stream
// at two depths: Read keeps everything (payload included), Scan keeps what an index needs and
// steps over the payload.
//
// Rules every element keeps:
//  - Read and Scan check every field they take. The first field that cannot be read ends the
//    method with false; fields read before it keep their new values, the rest keep theirs.
//  - Nothing escapes Read or Scan: exceptions raised inside (allocation failure included)
//    are caught and reported as false.
//  - Write and GetDataSize do not fail; the output stream grows to take what is written.
//  - An element is owned by exactly one owner (std::unique_ptr) and destroyed through the
//    virtual destructor; a container element owns what it points to.
#pragma once

#include <cstdint>
#include <memory>

#include "io/InputStream.h"
#include "io/OutputStream.h"

class CFlashObject {
  public:
    CFlashObject() = default;
    virtual ~CFlashObject() = default;
    CFlashObject& operator=(const CFlashObject&) = delete;

    // The element's name ("FLV Header", "Video Data", "Audio Data", "Script Data",
    // "Template Data"); the tag wrapper tells body kinds apart by it.
    virtual const wchar_t* GetName() const = 0;
    // An independent element of the same class with the same field values; the caller owns it.
    virtual std::unique_ptr<CFlashObject> Clone() const = 0;
    // Number of body bytes the element occupies when written (0 for the file header).
    virtual std::uint32_t GetDataSize() = 0;
    // Appends the element's bytes at the stream's cursor.
    virtual void Write(COutputStream& output) = 0;
    // Reads the element completely, payload included.
    [[nodiscard]] virtual bool Read(CInputStream& input) = 0;
    // Reads what an index needs and steps over the payload.
    [[nodiscard]] virtual bool Scan(CInputStream& input) = 0;

    // For a tag body: the tag's DataSize, the number of body bytes that follow the tag header.
    // The tag wrapper stores it before it asks the body to read itself; a body may lower it
    // while reading. 0 at construction.
    std::uint32_t DataSize = 0;

  protected:
    // For Clone in the derived classes.
    CFlashObject(const CFlashObject&) = default;
};
