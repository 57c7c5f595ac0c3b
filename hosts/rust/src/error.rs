//! The one error type of the crate: what went wrong, QuibShare's exit code and its message.

use std::fmt;
use std::io;
use std::path::Path;
use std::time::Duration;

/// What went wrong. The names match the error codes of QuibShare's npm package.
#[non_exhaustive]
#[derive(Debug, Clone, Copy, PartialEq, Eq, Hash)]
pub enum ErrorKind {
    /// Exit code 2: the command line or a file was rejected (missing, a directory, empty...); or,
    /// with no exit code, the crate refused the share before starting anything (a NUL character,
    /// or nothing to share).
    InputRejected,
    /// Exit code 3: this system cannot share; hide or disable sharing.
    Unavailable,
    /// Exit code 1: sharing failed or timed out, or QuibShare had to be stopped at the deadline.
    Failed,
    /// Any other exit code: QuibShare ended abnormally (for example 0xC0000005 after a crash).
    AbnormalExit,
    /// Not built for Windows: there is nothing to run.
    UnsupportedPlatform,
    /// QuibShare.exe could not be started; the `io::Error` is the source.
    SpawnFailed,
}

/// A share that did not go through: its [`ErrorKind`], QuibShare's exit code and its message.
/// `Display` shows the message alone; a spawn failure's system error is its `source()`.
#[derive(Debug)]
pub struct Error {
    kind: ErrorKind,
    exit_code: Option<u32>,
    message: String,
    source: Option<io::Error>,
}

impl Error {
    /// What went wrong.
    pub fn kind(&self) -> ErrorKind {
        self.kind
    }

    /// QuibShare's exit code, when it ran to its end.
    pub fn exit_code(&self) -> Option<u32> {
        self.exit_code
    }

    /// QuibShare's line on standard error without its CR LF, or the crate's own text where
    /// QuibShare wrote none.
    pub fn message(&self) -> &str {
        &self.message
    }

    pub(crate) fn exited(kind: ErrorKind, code: u32, line: &str) -> Self {
        let message = if line.is_empty() {
            // Exception codes read best in hex, small codes in decimal.
            let code = if code > 0xFFFF { format!("0x{:08X}", code) } else { code.to_string() };
            format!("QuibShare exited with code {} and gave no reason.", code)
        } else {
            line.to_owned()
        };
        Error { kind, exit_code: Some(code), message, source: None }
    }

    #[cfg_attr(not(windows), allow(dead_code))]
    pub(crate) fn stopped(deadline: Duration) -> Self {
        let seconds = deadline.as_secs();
        let message = format!("QuibShare did not exit within {} seconds and was stopped.", seconds);
        Error { kind: ErrorKind::Failed, exit_code: None, message, source: None }
    }

    /// A share refused before anything started; `message` names the value, never holds it.
    pub(crate) fn rejected(message: impl Into<String>) -> Self {
        Error { kind: ErrorKind::InputRejected, exit_code: None, message: message.into(), source: None }
    }

    pub(crate) fn unsupported_platform() -> Self {
        let message = "Sharing with QuibShare needs Windows.".to_owned();
        Error { kind: ErrorKind::UnsupportedPlatform, exit_code: None, message, source: None }
    }

    pub(crate) fn spawn_failed(executable: &Path, source: io::Error) -> Self {
        // The system's text is the source's alone: reporters print both.
        let message = format!("QuibShare could not be started from {}.", executable.display());
        Error { kind: ErrorKind::SpawnFailed, exit_code: None, message, source: Some(source) }
    }
}

impl fmt::Display for Error {
    fn fmt(&self, f: &mut fmt::Formatter<'_>) -> fmt::Result {
        f.write_str(&self.message)
    }
}

impl std::error::Error for Error {
    fn source(&self) -> Option<&(dyn std::error::Error + 'static)> {
        self.source.as_ref().map(|e| e as _)
    }
}
