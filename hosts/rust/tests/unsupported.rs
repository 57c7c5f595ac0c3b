// Off Windows the crate builds, and every share is refused without starting anything.
#![cfg(not(windows))]

use quibshare::{ErrorKind, Sharer};

#[test]
fn off_windows_nothing_is_supported_and_every_share_is_refused() {
    assert!(!quibshare::is_supported());
    assert!(!Sharer::new("/bin/true").is_supported());
    let errors = [
        quibshare::share("report.pdf").unwrap_err(),
        Sharer::new("/bin/true").share("report.pdf").unwrap_err(),
        Sharer::new("/bin/true").wait(true).share_all(["a.pdf", "b.pdf"]).unwrap_err(),
    ];
    for error in errors {
        assert_eq!(error.kind(), ErrorKind::UnsupportedPlatform);
        assert_eq!(error.exit_code(), None);
        assert_eq!(error.to_string(), "Sharing with QuibShare needs Windows.");
    }
}
