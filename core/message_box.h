#pragma once

// Message box buttons and answers, with the values Windows gives them. The format engine asks
// its questions in these terms; each front end shows them its own way.
enum class BoxButtons { Ok = 0, OkCancel = 1, AbortRetryIgnore = 2 };
enum class BoxAnswer { Ok = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5 };
