// Links planted in the test's scratch folders. Wine cannot create Windows
// links (CreateSymbolicLinkW does nothing, FSCTL_SET_REPARSE_POINT is not
// supported), but it shows a Unix symbolic link to a directory as a reparse
// point, so under Wine the tests make Unix links with the host's ln.
#pragma once

#include <string>

class CUnixLink {
 public:
  // Makes link a Unix symbolic link to target (a Windows path, or a Unix path
  // starting with '/'). Made() is false when not under Wine or ln failed.
  CUnixLink(const std::wstring& link, const std::wstring& target);
  // Removes the link itself with the host's rm: Wine's own deletions act on
  // what a Unix link points to, which would be the victim (or /dev/full).
  // Aborts the tests when the link stays, before anything deletes through it.
  ~CUnixLink();
  CUnixLink(const CUnixLink&) = delete;
  CUnixLink& operator=(const CUnixLink&) = delete;

  // True when the link was made.
  bool Made() const { return made_; }
  // True under Wine, where links can be made.
  static bool Available();

 private:
  std::wstring link_;
  std::wstring unixLink_;
  bool started_ = false;
  bool made_ = false;
};
