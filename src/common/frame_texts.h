// Console texts that both programs print. Each program's own texts live in
// its *_texts.h; the formats carry the layout, these carry the words.
#pragma once

inline constexpr char kFreewareText[] = "This software is a freeware";
inline constexpr char kRightsText[] = "Copyright (C) its authors. All rights reserved.";
inline constexpr char kVersionText[] = "v1.0 (English version)";
inline constexpr char kCreditText[] = "by its authors";

inline constexpr char kClosingPrompt[] = "After checking the message above, press any key to exit.";
inline constexpr char kAbortNotice[] = "Program aborted.";
inline constexpr char kNotEnoughMemory[] = "Not enough memory to allocate buffer.";
inline constexpr char kAlreadyExists[] = "already exists.";
inline constexpr char kUnableToCloseHandle[] = "Unable to close one handle.";
inline constexpr char kCannotCreateFile[] = "cannot create file";
inline constexpr char kDone[] = "Done!";
inline constexpr char kFileNotFound[] = "File not found.";

inline constexpr char kAbortNoticeFormat[] = " %s \n";
inline constexpr char kClosingPromptFormat[] = "\n%s";
inline constexpr char kAlreadyExistsFormat[] = " '%s' %s";
inline constexpr char kQuestionFormat[] = "\n %s ";
inline constexpr char kAnswerEchoFormat[] = "%c\n\n";
inline constexpr char kUnableToCloseFormat[] = "\n\n %s \n";
