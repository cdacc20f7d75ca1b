#pragma once
// Holders of what the SoapySDR library hands out and wants back: lists of
// key/value lists, texts, arrays and setting descriptions. Each gives its
// allocation back through the library's own release function when it goes
// (skipped when the library lacks that function). Texts inside may be null:
// readers use soapyText.
#include "radios/soapy/SoapyLib.h"

#include <cstddef>
#include <string>

/// A library text as std::string; null reads as empty.
inline std::string soapyText(const char* text) { return text ? text : ""; }

/// A list of `count` items allocated by the library, given back by Release.
template <class T, void (*Release)(const SoapyLib&, T*, size_t)>
class soapyList {
public:
    soapyList(const SoapyLib& lib, T* items, size_t count) : lib_(lib), items_(items), count_(items ? count : 0) {}
    ~soapyList() {
        if (items_) Release(lib_, items_, count_);
    }
    soapyList(const soapyList&) = delete;
    soapyList& operator=(const soapyList&) = delete;

    T* begin() const { return items_; }
    T* end() const { return items_ + count_; }
    size_t size() const { return count_; }
    T& operator[](size_t i) const { return items_[i]; }

private:
    const SoapyLib& lib_;
    T* items_;
    size_t count_;
};

namespace vireo::soapy::release {
inline void kwargsList(const SoapyLib& lib, SoapySDRKwargs* p, size_t n) {
    if (lib.KwargsListClear) lib.KwargsListClear(p, n);
}
inline void strings(const SoapyLib& lib, char** p, size_t n) {
    if (lib.StringsClear) lib.StringsClear(&p, n);
}
inline void argInfoList(const SoapyLib& lib, SoapySDRArgInfo* p, size_t n) {
    if (lib.ArgInfoListClear) lib.ArgInfoListClear(p, n);
}
template <class T>
void array(const SoapyLib& lib, T* p, size_t) {
    if (lib.free) lib.free(p);
}
} // namespace vireo::soapy::release

using soapyKwargsList = soapyList<SoapySDRKwargs, vireo::soapy::release::kwargsList>;
using soapyStrings = soapyList<char*, vireo::soapy::release::strings>;
using soapyArgInfoList = soapyList<SoapySDRArgInfo, vireo::soapy::release::argInfoList>;
template <class T>
using soapyArray = soapyList<T, vireo::soapy::release::array<T>>;

/// A text allocated by the library (an antenna name, a stream format, a
/// module's load result).
class soapyOwnedText {
public:
    soapyOwnedText(const SoapyLib& lib, char* text) : lib_(lib), text_(text) {}
    ~soapyOwnedText() {
        if (text_ && lib_.free) lib_.free(text_);
    }
    soapyOwnedText(const soapyOwnedText&) = delete;
    soapyOwnedText& operator=(const soapyOwnedText&) = delete;
    std::string str() const { return soapyText(text_); }

private:
    const SoapyLib& lib_;
    char* text_;
};

/// One key/value list made by the library from text.
class soapyKwargs {
public:
    soapyKwargs(const SoapyLib& lib, SoapySDRKwargs args) : lib_(lib), args_(args) {}
    ~soapyKwargs() {
        if (lib_.KwargsClear) lib_.KwargsClear(&args_);
    }
    soapyKwargs(const soapyKwargs&) = delete;
    soapyKwargs& operator=(const soapyKwargs&) = delete;
    const SoapySDRKwargs* get() const { return &args_; }

private:
    const SoapyLib& lib_;
    SoapySDRKwargs args_;
};
