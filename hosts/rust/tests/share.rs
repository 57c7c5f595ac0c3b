// Drives the real QuibShare.exe as an app would, beside the simulated share sheet of the C++
// tests; QUIBSHARE_EXE and QUIBSHARE_SIM_DLL name the built files.
#![cfg(windows)]

use std::path::{Path, PathBuf};
use std::sync::{Mutex, MutexGuard};
use std::time::{Duration, Instant};
use std::{env, fs, thread};

use quibshare::{Error, ErrorKind, Sharer};

const MISSING: &str = "Sharing could not start: input file does not exist or is inaccessible";

// The scenario, the record and the current folder belong to the whole process: one test at a time.
static ONE_AT_A_TIME: Mutex<()> = Mutex::new(());

/// A folder of its own holding QuibShare.exe, with the simulated sheet beside it when asked.
struct Install {
    folder: PathBuf,
    _turn: MutexGuard<'static, ()>,
}

impl Install {
    fn new(name: &str, with_sheet: bool, fail: &str) -> Install {
        let turn = ONE_AT_A_TIME.lock().unwrap_or_else(|poisoned| poisoned.into_inner());
        // Made afresh on each run, since a worker may still hold files of the last one.
        let folder = env::temp_dir().join(format!("quibshare-rust-{}", name));
        let _ = fs::remove_dir_all(&folder);
        fs::create_dir_all(&folder).unwrap();
        place(&folder, with_sheet);
        env::set_var("QUIBSHARE_SIM_LOG", folder.join("record.txt"));
        env::set_var("QUIBSHARE_SIM_FAIL", fail);
        Install { folder, _turn: turn }
    }

    fn sharer(&self) -> Sharer {
        Sharer::new(self.folder.join("QuibShare.exe"))
    }

    fn file(&self, name: &str) -> PathBuf {
        let path = self.folder.join(name);
        fs::write(&path, "shared by a test").unwrap();
        path
    }

    /// The recorded lines starting with `prefix`, sorted, once `shares` shares have ended:
    /// QuibShare returns when the sheet has the file, and its worker finishes the share after.
    fn record(&self, prefix: &str, shares: usize) -> Vec<String> {
        let deadline = Instant::now() + Duration::from_secs(20);
        loop {
            let text = fs::read_to_string(self.folder.join("record.txt")).unwrap_or_default();
            if text.matches("remove ShareCompleted").count() >= shares || Instant::now() > deadline {
                let mut lines: Vec<String> =
                    text.lines().filter(|l| l.starts_with(prefix)).map(String::from).collect();
                lines.sort();
                return lines;
            }
            thread::sleep(Duration::from_millis(50));
        }
    }
}

fn place(folder: &Path, with_sheet: bool) {
    let built = |variable: &str| env::var_os(variable).expect("the built file's path");
    fs::copy(built("QUIBSHARE_EXE"), folder.join("QuibShare.exe")).unwrap();
    if with_sheet {
        for name in ["Windows.Storage.dll", "Windows.ApplicationModel.DataTransfer.dll"] {
            fs::copy(built("QUIBSHARE_SIM_DLL"), folder.join(name)).unwrap();
        }
    }
}

fn shared(path: &Path) -> String {
    format!("SetStorageItemsReadOnly 1 {}", path.display())
}

fn expect_error(result: Result<(), Error>, kind: ErrorKind, code: Option<u32>, message: &str) {
    let error = result.expect_err(message);
    assert_eq!((error.kind(), error.exit_code(), error.message()), (kind, code, message));
}

#[test]
fn share_beside_the_current_executable_gives_the_sheet_the_title_and_one_read_only_item() {
    let install = Install::new("default", true, "");
    place(env::current_exe().unwrap().parent().unwrap(), true);
    let file = install.file("report.final.pdf");
    quibshare::share(&file).unwrap();
    assert_eq!(install.record("title", 1), ["title 1 report.final.pdf"]);
    assert_eq!(install.record("SetStorageItems", 1), [shared(&file)]);
    assert_eq!(install.record("unexpected", 1), Vec::<String>::new());
}

#[test]
fn relative_slashed_unusual_and_long_paths_reach_the_sheet_in_full() {
    let install = Install::new("paths", true, "");
    let plain = install.file("report.final.pdf");
    let unusual = install.file("Prüfbericht & Ω Übersicht (final).txt");
    let mut long = install.folder.clone();
    while long.as_os_str().len() < 280 {
        long.push("n".repeat(50));
    }
    fs::create_dir_all(&long).unwrap();
    long.push("x.txt");
    fs::write(&long, "long").unwrap();

    let slashed = PathBuf::from(plain.to_str().unwrap().replace('\\', "/"));
    let cases = [
        (PathBuf::from("report.final.pdf"), &plain),
        (slashed, &plain),
        (unusual.clone(), &unusual),
        (long.clone(), &long),
    ];
    let previous = env::current_dir().unwrap();
    for (argument, file) in cases {
        let _ = fs::remove_file(install.folder.join("record.txt"));
        env::set_current_dir(&install.folder).unwrap(); // QuibShare inherits it
        let result = install.sharer().share(&argument);
        env::set_current_dir(&previous).unwrap();
        assert!(result.is_ok(), "{}: {:?}", argument.display(), result);
        assert_eq!(install.record("SetStorageItems", 1), [shared(file)]);
    }
}

#[test]
fn each_failure_gives_its_kind_code_and_exact_text() {
    let sheet = Install::new("failures", true, "show:80004005");
    let sharer = sheet.sharer();
    expect_error(sharer.share(sheet.folder.join("gone.txt")), ErrorKind::InputRejected, Some(2), MISSING);
    let directory = "Sharing could not start: input must be a regular file, not a directory";
    expect_error(sharer.share(&sheet.folder), ErrorKind::InputRejected, Some(2), directory);
    let failed = "Sharing could not be opened (error 0x80004005).";
    expect_error(sharer.share(sheet.file("a.txt")), ErrorKind::Failed, Some(1), failed);

    let error = Sharer::new(sheet.folder.join("absent.exe")).share(sheet.file("a.txt")).unwrap_err();
    assert_eq!((error.kind(), error.exit_code()), (ErrorKind::SpawnFailed, None));
    let source = std::error::Error::source(&error).and_then(|s| s.downcast_ref::<std::io::Error>());
    assert_eq!(source.map(|s| s.kind()), Some(std::io::ErrorKind::NotFound));
    drop(sheet);

    let alone = Install::new("alone", false, "");
    let unavailable =
        "Sharing is not available on this system: the Windows share interface is missing or disabled.";
    expect_error(alone.sharer().share(alone.file("a.txt")), ErrorKind::Unavailable, Some(3), unavailable);
}

#[test]
fn ten_shares_at_once_each_get_their_own_outcome() {
    let install = Install::new("ten", true, "");
    let sharer = &install.sharer();
    // Even threads share a file of their own, odd ones a missing file.
    let paths: Vec<PathBuf> = (0..10)
        .map(|i| match i % 2 {
            0 => install.file(&format!("file {}.txt", i)),
            _ => install.folder.join(format!("gone {}.txt", i)),
        })
        .collect();
    let results: Vec<Result<(), Error>> = thread::scope(|scope| {
        let threads: Vec<_> = paths.iter().map(|path| scope.spawn(move || sharer.share(path))).collect();
        threads.into_iter().map(|t| t.join().unwrap()).collect()
    });
    for (i, result) in results.into_iter().enumerate() {
        match i % 2 {
            0 => assert!(result.is_ok(), "{}: {:?}", i, result),
            _ => expect_error(result, ErrorKind::InputRejected, Some(2), MISSING),
        }
    }
    let mut expected: Vec<String> = paths.iter().step_by(2).map(|p| shared(p)).collect();
    expected.sort();
    assert_eq!(install.record("SetStorageItems", 5), expected);
}
