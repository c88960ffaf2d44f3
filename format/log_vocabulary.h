// The words of the launcher's log, unpack.log: the source tags and the fixed
// texts of its lines. The launcher writes them and packfile's log command
// reads them back, so a line's words are spelled here and nowhere else; a
// word changed on one side only would make the decoder lose the line.
//
// Narrow string literal macros and nothing else, so that one spelling gives
// both sides their text: the launcher widens a word by adjacent-literal
// concatenation (L"[%s] " UNPACK_LOG_NAME "%s"), packfile uses it as it is.
// Header-only, and only the reading rules included: the launcher builds
// without the C++ standard headers.
#pragma once

#include "format/reading_rules.h"

// --- The line ------------------------------------------------------------------
// "[pid]time  message  Err:n": the field that ends every line, before n.
#define UNPACK_LOG_ERR_FIELD "  Err:"

// --- Source tags: a message is "[source] text" --------------------------------
#define UNPACK_LOG_SOURCE_OS_INFO "CUtility::OSInfo"
#define UNPACK_LOG_SOURCE_FILE_EXCEPTION "CUtility::FileException"
#define UNPACK_LOG_SOURCE_FIND_HEADER "CUnPack::FindHeader"
#define UNPACK_LOG_SOURCE_UNPACK_FILES "CUnPack::UnPackFiles"
#define UNPACK_LOG_SOURCE_INIT_INSTANCE "CUnPackFileApp::InitInstance"

// --- The locator's lines ---------------------------------------------------------
#define UNPACK_LOG_NAME "Name:"                    // then the launcher's own path
#define UNPACK_LOG_FIND_FAIL "Fail"                // no package found
#define UNPACK_LOG_SIGN_SIZE "Sign Size:"          // then the certificate table's size
#define UNPACK_LOG_HEADER_OFFSET "Header offset:"  // then the package's offset

// --- The extractor's lines -------------------------------------------------------
#define UNPACK_LOG_FILE_NAME "UnPack file name:"   // a file it sets out to write
#define UNPACK_LOG_COUNT "UnPack count:"           // "UnPack count:n len:n File:path": one written
#define UNPACK_LOG_COUNT_LEN " len:"
#define UNPACK_LOG_COUNT_FILE " File:"
#define UNPACK_LOG_TOTAL "UnPack total "           // "UnPack total n files."
#define UNPACK_LOG_TOTAL_END " files."

// --- The launch lines ------------------------------------------------------------
// "dir:D file:F param:P": the work directory, the command and its parameters.
#define UNPACK_LOG_DIR "dir:"
#define UNPACK_LOG_FILE " file:"
#define UNPACK_LOG_PARAM " param:"
#define UNPACK_LOG_EXECUTE_OK "execute ok "        // then the start's own answer
#define UNPACK_LOG_EXECUTE_FAIL "execute fail"
#define UNPACK_LOG_EXECUTE_WAIT "execute wait pid:"
#define UNPACK_LOG_EXECUTE_DONE "execute done code:"

// The batch form's parameters send run.bat's standard output to the log's
// path plus ".txt"; the param field shows it after these words.
#define UNPACK_LOG_BATCH_REDIRECT UNPACK_BATCH_FILE_NAME " > "

// --- The file error line's sentences ----------------------------------------------
// The text of a file error line, by its cause (1 to 14); %1 stands for the
// name it is about. The launcher's string table holds them, the decoder
// finds the name between the words around %1.
#define UNPACK_LOG_NAME_PLACE "%1"
#define UNPACK_LOG_SENTENCE_GENERIC "An unknown error occurred while accessing %1."
#define UNPACK_LOG_SENTENCE_FILE_NOT_FOUND "%1 was not found."
#define UNPACK_LOG_SENTENCE_BAD_PATH "%1 contains an incorrect path."
#define UNPACK_LOG_SENTENCE_TOO_MANY_OPEN_FILES "Could not open %1 because there are too many open files."
#define UNPACK_LOG_SENTENCE_ACCESS_DENIED "Access to %1 was denied."
#define UNPACK_LOG_SENTENCE_INVALID_FILE "An incorrect file handle was associated with %1."
#define UNPACK_LOG_SENTENCE_REMOVE_CURRENT_DIR "Could not remove %1 because it is the current directory."
#define UNPACK_LOG_SENTENCE_DIRECTORY_FULL "Could not create %1 because the directory is full."
#define UNPACK_LOG_SENTENCE_BAD_SEEK "Seek failed on %1"
#define UNPACK_LOG_SENTENCE_HARD_IO "Encountered a hardware I/O error while accessing %1."
#define UNPACK_LOG_SENTENCE_SHARING_VIOLATION "Encountered a sharing violation while accessing %1."
#define UNPACK_LOG_SENTENCE_LOCK_VIOLATION "Encountered a locking violation while accessing %1."
#define UNPACK_LOG_SENTENCE_DISK_FULL "Disk full while accessing %1."
#define UNPACK_LOG_SENTENCE_END_OF_FILE "Attempted to access %1 past its end."
