#pragma once

// CArray<TYPE, ARG_TYPE>: the growable array of the exported class's
// signatures: a count, indexed reads and writes, appending, copying and
// emptying, over contiguous storage.
//
// Every indexed access (GetAt, SetAt, ElementAt, operator[]) is bounds-checked
// and throws std::invalid_argument for an index outside 0..count-1. That
// exception is the only one the library lets through to its callers; the
// library itself never catches it.

#include <stdexcept>
#include <string>
#include <vector>

template <class TYPE, class ARG_TYPE = const TYPE&>
class CArray {
public:
  CArray() = default;

  int GetSize() const { return static_cast<int>(m_aData.size()); }
  int GetCount() const { return GetSize(); }
  bool IsEmpty() const { return m_aData.empty(); }
  int GetUpperBound() const { return GetSize() - 1; }

  // Sets the count to n (n < 0 is rejected); new elements are value-initialised.
  // Hosts size the output list of RunnerLength with it.
  void SetSize(int n) {
    if (n < 0) throw std::invalid_argument("CArray::SetSize: negative size " + std::to_string(n));
    m_aData.resize(static_cast<size_t>(n));
  }

  const TYPE& GetAt(int i) const { return m_aData[Checked(i)]; }
  void SetAt(int i, ARG_TYPE value) { m_aData[Checked(i)] = value; }
  TYPE& ElementAt(int i) { return m_aData[Checked(i)]; }
  const TYPE& ElementAt(int i) const { return m_aData[Checked(i)]; }
  TYPE& operator[](int i) { return ElementAt(i); }
  const TYPE& operator[](int i) const { return GetAt(i); }

  // Appends at the end and returns the new element's index.
  int Add(ARG_TYPE value) {
    m_aData.push_back(value);
    return GetSize() - 1;
  }

  // Takes the source's count and elements. Copying onto itself does nothing.
  void Copy(const CArray& source) {
    if (&source != this) m_aData = source.m_aData;
  }

  void RemoveAll() { m_aData.clear(); }

  const TYPE* GetData() const { return m_aData.data(); }

private:
  size_t Checked(int i) const {
    if (i < 0 || i >= GetSize())
      throw std::invalid_argument("CArray: index " + std::to_string(i) + " outside 0.." +
                                  std::to_string(GetSize() - 1));
    return static_cast<size_t>(i);
  }

  std::vector<TYPE> m_aData;
};
