// Drives the real QuibShare.exe as a Tauri app would, beside the simulated share sheet of the
// C++ tests. QUIBSHARE_EXE and QUIBSHARE_SIM_DLL name the built files.
#![cfg(windows)]

use std::env;
use std::fs;
use std::path::{Path, PathBuf};
use std::sync::{Mutex, MutexGuard};
use std::thread;
use std::time::{Duration, Instant};

use quibshare::{Error, ErrorKind, Sharer};

const NOT_AVAILABLE: &str =
    "Sharing is not available on this system: the Windows share interface is missing or disabled.";
const MISSING: &str = "Sharing could not start: input file does not exist or is inaccessible";

// The scenario, the record and the current folder belong to the whole process: one test at a time.
static PROCESS_STATE: Mutex<()> = Mutex::new(());

/// QuibShare.exe in a folder of its own, with the simulated sheet beside it when asked.
struct Install {
    folder: PathBuf,
    record: PathBuf,
    _one_at_a_time: MutexGuard<'static, ()>,
}

impl Install {
    fn new(name: &str, with_sheet: bool, fail: &str) -> Install {
        let guard = PROCESS_STATE.lock().unwrap_or_else(|poisoned| poisoned.into_inner());
        let folder = env::temp_dir().join(format!("quibshare-rust-{}-{}", std::process::id(), name));
        let _ = fs::remove_dir_all(&folder);
        fs::create_dir_all(&folder).unwrap();
        let install = Install { record: folder.join("record.txt"), folder, _one_at_a_time: guard };
        install.place_beside(&install.folder, with_sheet);
        env::set_var("QUIBSHARE_SIM_LOG", &install.record);
        env::set_var("QUIBSHARE_SIM_FAIL", fail);
        install
    }

    fn place_beside(&self, folder: &Path, with_sheet: bool) {
        fs::copy(built("QUIBSHARE_EXE"), folder.join("QuibShare.exe")).unwrap();
        if with_sheet {
            for name in ["Windows.Storage.dll", "Windows.ApplicationModel.DataTransfer.dll"] {
                fs::copy(built("QUIBSHARE_SIM_DLL"), folder.join(name)).unwrap();
            }
        }
    }

    fn sharer(&self) -> Sharer {
        Sharer::new(self.folder.join("QuibShare.exe"))
    }

    fn file(&self, name: &str) -> PathBuf {
        let path = self.folder.join(name);
        fs::write(&path, "shared by a test").unwrap();
        path
    }

    /// The recorded lines starting with `prefix`, once `shares` shares have ended: QuibShare
    /// returns when the sheet is up, and its worker finishes the share after.
    fn record(&self, prefix: &str, shares: usize) -> Vec<String> {
        let deadline = Instant::now() + Duration::from_secs(20);
        loop {
            let text = fs::read_to_string(&self.record).unwrap_or_default();
            let ended = text.lines().filter(|l| l.starts_with("remove ShareCompleted")).count();
            if ended >= shares || Instant::now() > deadline {
                let mut lines: Vec<String> = text.lines().filter(|l| l.starts_with(prefix)).map(String::from).collect();
                lines.sort();
                return lines;
            }
            thread::sleep(Duration::from_millis(50));
        }
    }
}

impl Drop for Install {
    fn drop(&mut self) {
        let _ = fs::remove_dir_all(&self.folder);
    }
}

fn built(variable: &str) -> PathBuf {
    env::var_os(variable).unwrap_or_else(|| panic!("{} must name the built file", variable)).into()
}

fn expect_error(result: Result<(), Error>, kind: ErrorKind, code: Option<u32>, message: &str) {
    let error = result.expect_err(message);
    assert_eq!((error.kind(), error.exit_code(), error.message()), (kind, code, message));
}

#[test]
fn share_beside_the_current_executable_gives_the_sheet_the_title_and_one_read_only_item() {
    let install = Install::new("default", true, "");
    let folder = env::current_exe().unwrap().parent().unwrap().to_path_buf();
    install.place_beside(&folder, true);
    let file = install.file("report.final.pdf");
    quibshare::share(&file).unwrap();
    assert_eq!(install.record("title", 1), ["title 1 report.final.pdf"]);
    assert_eq!(
        install.record("SetStorageItems", 1),
        [format!("SetStorageItemsReadOnly 1 {}", file.display())]
    );
    assert_eq!(install.record("unexpected", 1), Vec::<String>::new());
}

#[test]
fn relative_slashed_unusual_and_long_paths_reach_the_sheet_in_full() {
    let install = Install::new("paths", true, "");
    let plain = install.file("report.final.pdf");
    let unusual = install.file("Prüfbericht & Ω Übersicht (final).txt");
    let mut folder = install.folder.clone();
    while folder.as_os_str().len() < 280 {
        folder.push("n".repeat(50));
    }
    fs::create_dir_all(&folder).unwrap();
    let long = folder.join("x.txt");
    fs::write(&long, "long").unwrap();
    assert!(long.as_os_str().len() > 259);

    let slashed = plain.to_str().unwrap().replace('\\', "/");
    let cases = [
        (PathBuf::from("report.final.pdf"), &plain),
        (PathBuf::from(slashed), &plain),
        (unusual.clone(), &unusual),
        (long.clone(), &long),
    ];
    let previous = env::current_dir().unwrap();
    for (argument, shared) in cases {
        let _ = fs::remove_file(&install.record);
        env::set_current_dir(&install.folder).unwrap(); // QuibShare inherits it
        let result = install.sharer().share(&argument);
        env::set_current_dir(&previous).unwrap();
        assert!(result.is_ok(), "{}: {:?}", argument.display(), result);
        assert_eq!(
            install.record("SetStorageItems", 1),
            [format!("SetStorageItemsReadOnly 1 {}", shared.display())]
        );
    }
}

#[test]
fn rejected_unavailable_and_failed_shares_give_quibshare_s_code_and_text() {
    let sheet = Install::new("failures", true, "show:80004005");
    let sharer = sheet.sharer();
    expect_error(sharer.share(sheet.folder.join("missing.txt")), ErrorKind::InputRejected, Some(2), MISSING);
    expect_error(
        sharer.share(&sheet.folder),
        ErrorKind::InputRejected,
        Some(2),
        "Sharing could not start: input must be a regular file, not a directory",
    );
    let file = sheet.file("a.txt");
    expect_error(sharer.share(&file), ErrorKind::Failed, Some(1), "Sharing could not be opened (error 0x80004005).");
    drop(sheet);

    let alone = Install::new("alone", false, "");
    expect_error(alone.sharer().share(alone.file("a.txt")), ErrorKind::Unavailable, Some(3), NOT_AVAILABLE);
}

#[test]
fn missing_executable_fails_to_spawn_with_the_os_error_as_source() {
    let install = Install::new("spawn", false, "");
    let error = Sharer::new(install.folder.join("absent.exe")).share(install.file("a.txt")).unwrap_err();
    assert_eq!((error.kind(), error.exit_code()), (ErrorKind::SpawnFailed, None));
    let source = std::error::Error::source(&error).and_then(|s| s.downcast_ref::<std::io::Error>());
    assert_eq!(source.map(|s| s.kind()), Some(std::io::ErrorKind::NotFound));
}

#[test]
fn ten_shares_at_once_each_get_their_own_outcome() {
    let install = Install::new("ten", true, "");
    let sharer = install.sharer();
    // Even threads share a file of their own, odd ones a missing file.
    let paths: Vec<PathBuf> = (0..10)
        .map(|i| if i % 2 == 0 { install.file(&format!("file {}.txt", i)) } else { install.folder.join(format!("gone {}.txt", i)) })
        .collect();
    let results: Vec<Result<(), Error>> = thread::scope(|scope| {
        let sharer = &sharer;
        let threads: Vec<_> = paths.iter().map(|path| scope.spawn(move || sharer.share(path))).collect();
        threads.into_iter().map(|t| t.join().unwrap()).collect()
    });
    for (i, result) in results.into_iter().enumerate() {
        if i % 2 == 0 {
            assert!(result.is_ok(), "{}: {:?}", i, result);
        } else {
            expect_error(result, ErrorKind::InputRejected, Some(2), MISSING);
        }
    }
    let mut expected: Vec<String> =
        paths.iter().step_by(2).map(|p| format!("SetStorageItemsReadOnly 1 {}", p.display())).collect();
    expected.sort();
    assert_eq!(install.record("SetStorageItems", 5), expected);
}
