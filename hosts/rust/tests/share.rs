// Drives the real QuibShare.exe as an app would, beside the simulated share sheet of the C++
// tests; QUIBSHARE_EXE and QUIBSHARE_SIM_DLL name the built files.
#![cfg(windows)]

use std::cell::Cell;
use std::io::Write;
use std::path::{Path, PathBuf};
use std::sync::{Mutex, MutexGuard};
use std::time::{Duration, Instant};
use std::{env, fs, thread};

use quibshare::{web, Error, ErrorKind, Outcome, OutcomeKind, Rect, Sharer};

const MISSING: &str = "Sharing could not start: input file does not exist or is inaccessible";

// The scenario, the record and the current folder belong to the whole process: one test at a time.
static ONE_AT_A_TIME: Mutex<()> = Mutex::new(());

/// A folder of its own holding QuibShare.exe, with the simulated sheet beside it when asked.
struct Install {
    folder: PathBuf,
    records: Cell<usize>,
    _turn: MutexGuard<'static, ()>,
}

impl Install {
    fn new(name: &str, with_sheet: bool, fail: &str) -> Install {
        let turn = ONE_AT_A_TIME.lock().unwrap_or_else(|poisoned| poisoned.into_inner());
        // Made afresh on each run: a record left by the last run would be read as this run's.
        let folder = env::temp_dir().join(format!("quibshare-rust-{}", name));
        match fs::remove_dir_all(&folder) {
            Err(error) if error.kind() != std::io::ErrorKind::NotFound => {
                panic!("{} is left from an earlier run and could not be removed: {}", folder.display(), error)
            }
            _ => {}
        }
        fs::create_dir_all(&folder).unwrap();
        place(&folder, with_sheet);
        env::set_var("QUIBSHARE_SIM_FAIL", fail);
        for variable in
            ["QUIBSHARE_SIM_TARGET", "QUIBSHARE_SIM_APP", "QUIBSHARE_SIM_END", "QUIBSHARE_SIM_END_AFTER"]
        {
            env::remove_var(variable);
        }
        let install = Install { folder, records: Cell::new(0), _turn: turn };
        // Shares that no test reads write here, not into the record of the test before.
        install.new_record();
        install
    }

    fn sharer(&self) -> Sharer {
        Sharer::new(self.folder.join("QuibShare.exe"))
    }

    fn file(&self, name: &str) -> PathBuf {
        let path = self.folder.join(name);
        fs::write(&path, "shared by a test").unwrap();
        path
    }

    /// A record of its own for the shares started from now on: the worker of an earlier share,
    /// which goes on after QuibShare has returned, keeps writing to the earlier one.
    fn new_record(&self) -> Record {
        self.records.set(self.records.get() + 1);
        let path = self.folder.join(format!("record-{}.txt", self.records.get()));
        env::set_var("QUIBSHARE_SIM_LOG", &path);
        Record { path }
    }
}

/// What the simulated sheet was asked during some shares, and only those.
struct Record {
    path: PathBuf,
}

impl Record {
    /// The lines starting with `prefix`, sorted, once `workers` workers have ended (each writes
    /// "exit" last, as it unloads the sheet): QuibShare returns when the sheet has the file, and
    /// its worker finishes the share after.
    fn lines(&self, prefix: &str, workers: usize) -> Vec<String> {
        let deadline = Instant::now() + Duration::from_secs(20);
        loop {
            let text = fs::read_to_string(&self.path).unwrap_or_default();
            let ended = text.lines().filter(|line| line.starts_with("exit ")).count();
            if ended >= workers {
                let mut lines: Vec<String> =
                    text.lines().filter(|l| l.starts_with(prefix)).map(String::from).collect();
                lines.sort();
                return lines;
            }
            assert!(
                Instant::now() < deadline,
                "{} of {} workers ended within 20 s:\n{}",
                ended,
                workers,
                text
            );
            thread::sleep(Duration::from_millis(50));
        }
    }
}

/// Runs `share`, and once more if Wine failed a process start on the way (about one in 800): ours
/// (ERROR_INTERNAL_ERROR) or the broker's of its worker (exit 1, nothing said). The retry is
/// said on standard error and in the file QUIBSHARE_RETRY_LOG names, which scripts/soak counts.
fn retried(share: impl Fn() -> Result<Outcome, Error>) -> Result<Outcome, Error> {
    let result = share();
    let failed_start = match &result {
        Err(error) if error.kind() == ErrorKind::SpawnFailed => {
            let source = std::error::Error::source(error).and_then(|s| s.downcast_ref::<std::io::Error>());
            source.and_then(|s| s.raw_os_error()) == Some(1359)
        }
        Err(error) => {
            error.exit_code() == Some(1)
                && error.message() == "QuibShare exited with code 1 and gave no reason."
        }
        Ok(_) => false,
    };
    if !failed_start {
        return result;
    }
    let line = format!("retried a process start that Wine failed: {}\n", result.unwrap_err());
    eprint!("{}", line);
    if let Some(log) = env::var_os("QUIBSHARE_RETRY_LOG") {
        let file = fs::OpenOptions::new().create(true).append(true).open(log);
        let _ = file.and_then(|mut file| file.write_all(line.as_bytes()));
    }
    share()
}

fn place(folder: &Path, with_sheet: bool) {
    let built = |variable: &str| env::var_os(variable).expect("the built file's path");
    fs::copy(built("QUIBSHARE_EXE"), folder.join("QuibShare.exe")).unwrap();
    if with_sheet {
        for name in
            ["Windows.Storage.dll", "Windows.ApplicationModel.DataTransfer.dll", "Windows.Foundation.dll"]
        {
            fs::copy(built("QUIBSHARE_SIM_DLL"), folder.join(name)).unwrap();
        }
    }
}

fn shared(path: &Path) -> String {
    format!("SetStorageItemsReadOnly 1 {}", path.display())
}

fn expect_error(result: Result<Outcome, Error>, kind: ErrorKind, code: Option<u32>, message: &str) {
    let error = result.expect_err(message);
    assert_eq!((error.kind(), error.exit_code(), error.message()), (kind, code, message));
}

fn handed(result: Result<Outcome, Error>) -> bool {
    result.map_or(false, |outcome| outcome.kind() == OutcomeKind::Handed)
}

#[test]
fn share_beside_the_current_executable_gives_the_sheet_the_title_and_one_read_only_item() {
    let install = Install::new("default", true, "");
    // Wine says Windows 10 build 19045 on x64: only QuibShare.exe beside this test decides.
    let beside = env::current_exe().unwrap().parent().unwrap().to_owned();
    let _ = fs::remove_file(beside.join("QuibShare.exe"));
    let without = quibshare::is_supported();
    place(&beside, true);
    assert_eq!((without, quibshare::is_supported()), (false, true));
    assert_eq!(Sharer::beside_current_exe().executable(), beside.join("QuibShare.exe"));
    // A sharer asks about its own executable, which must be a file.
    let supported = |exe: &Path| Sharer::new(exe).is_supported();
    let (absent, folder) = (install.folder.join("absent.exe"), install.folder.clone());
    assert_eq!(
        [supported(&install.folder.join("QuibShare.exe")), supported(&absent), supported(&folder)],
        [true, false, false]
    );

    let file = install.file("report.final.pdf");
    let record = install.new_record();
    assert!(handed(retried(|| quibshare::share(&file))));
    assert_eq!(record.lines("title", 1), ["title 1 report.final.pdf"]);
    assert_eq!(record.lines("SetStorageItems", 1), [shared(&file)]);
    assert_eq!(record.lines("unexpected", 1), Vec::<String>::new());
}

// Paths over 259 characters work under Wine; Windows rejects them unless LongPathsEnabled is on.
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
        let record = install.new_record();
        env::set_current_dir(&install.folder).unwrap(); // QuibShare inherits it
        let result = retried(|| install.sharer().share(&argument));
        env::set_current_dir(&previous).unwrap();
        assert!(handed(result), "{}", argument.display());
        assert_eq!(record.lines("SetStorageItems", 1), [shared(file)]);
    }
}

#[test]
fn each_failure_gives_its_kind_code_and_exact_text() {
    let sheet = Install::new("failures", true, "show:80004005");
    let sharer = sheet.sharer();
    expect_error(sharer.share(sheet.folder.join("gone.txt")), ErrorKind::InputRejected, Some(2), MISSING);
    let directory = "Sharing could not start: input must be a regular file, not a directory";
    expect_error(sharer.share(&sheet.folder), ErrorKind::InputRejected, Some(2), directory);
    let link = "Sharing could not start: input is a link, not a file: give it with --url";
    expect_error(sharer.share("https://example.com/x"), ErrorKind::InputRejected, Some(2), link);
    let failed = "Sharing could not be opened (error 0x80004005).";
    expect_error(sharer.share(sheet.file("a.txt")), ErrorKind::Failed, Some(1), failed);

    let absent = sheet.folder.join("absent.exe");
    let error = Sharer::new(&absent).share(sheet.file("a.txt")).unwrap_err();
    let message = format!("QuibShare could not be started from {}.", absent.display());
    assert_eq!((error.kind(), error.exit_code(), error.to_string()), (ErrorKind::SpawnFailed, None, message));
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
    // One record for the ten, which only they write.
    let record = install.new_record();
    let results: Vec<Result<Outcome, Error>> = thread::scope(|scope| {
        let threads: Vec<_> =
            paths.iter().map(|path| scope.spawn(move || retried(|| sharer.share(path)))).collect();
        threads.into_iter().map(|t| t.join().unwrap()).collect()
    });
    for (i, result) in results.into_iter().enumerate() {
        match i % 2 {
            0 => assert!(handed(result), "{}", i),
            _ => expect_error(result, ErrorKind::InputRejected, Some(2), MISSING),
        }
    }
    let mut expected: Vec<String> = paths.iter().step_by(2).map(|p| shared(p)).collect();
    expected.sort();
    assert_eq!(record.lines("SetStorageItems", 5), expected);
}

#[test]
fn a_link_or_a_text_alone_reaches_the_sheet_with_its_title_and_no_storage_items() {
    let install = Install::new("no-file", true, "");
    env::set_var("QUIBSHARE_SIM_END", "cancel");
    let none: [&Path; 0] = [];
    let link = || install.sharer().url("https://example.com/a").wait(true).share_all(none);
    let text = || install.sharer().title("Lunch").text("See you at noon").share_all(none);
    // (share, outcome, title, text, link)
    let cases: [(&dyn Fn() -> Result<Outcome, Error>, OutcomeKind, &str, &[&str], &[&str]); 2] = [
        (&link, OutcomeKind::Canceled, "title 1 example.com", &[], &["weblink 1 https://example.com/a"]),
        (&text, OutcomeKind::Handed, "title 1 Lunch", &["text 1 See you at noon"], &[]),
    ];
    for (share, kind, title, text, link) in cases {
        let own = install.new_record();
        assert_eq!(
            retried(share).map(|outcome| outcome.kind()).map_err(|e| e.to_string()),
            Ok(kind),
            "{}",
            title
        );
        let record = |prefix| own.lines(prefix, 1);
        assert_eq!(
            (record("title "), record("text "), record("weblink "), record("SetStorageItems")),
            (vec![title.to_owned()], as_strings(text), as_strings(link), Vec::new())
        );
        let activated = record("factory");
        assert!(!activated.iter().any(|line| line.ends_with("StorageFile")), "{:?}", activated);
    }
}

fn as_strings(lines: &[&str]) -> Vec<String> {
    lines.iter().map(|line| line.to_string()).collect()
}

#[test]
fn a_waited_share_of_several_files_with_options_says_where_they_went() {
    let install = Install::new("waited", true, "");
    env::set_var("QUIBSHARE_SIM_TARGET", "microsoft.windowscommunicationsapps_8wekyb3d8bbwe!mail");
    env::set_var("QUIBSHARE_SIM_APP", "Mail \"Ünï\"");
    let files = [install.file("c third.txt"), install.file("a.txt"), install.file("b \u{1F4E7}.txt")];
    let own = install.new_record();
    let outcome = retried(|| {
        install
            .sharer()
            .title("Quarterly report")
            .text("See the figures")
            .url("https://example.com/q?a=1&b=2")
            .anchor(Rect { x: -1920, y: 40, width: 32, height: 24 })
            .wait(true)
            .share_all(&files)
    })
    .unwrap();
    assert_eq!(
        (outcome.kind(), outcome.target(), outcome.app()),
        (
            OutcomeKind::Completed,
            Some("microsoft.windowscommunicationsapps_8wekyb3d8bbwe!mail"),
            Some("Mail \"Ünï\"")
        )
    );
    let items = files.iter().map(|f| f.display().to_string()).collect::<Vec<_>>().join(" ");
    let record = |prefix| own.lines(prefix, 1);
    assert_eq!(
        [record("title "), record("text "), record("weblink "), record("SetStorageItems")],
        [
            ["title 1 Quarterly report"],
            ["text 1 See the figures"],
            ["weblink 1 https://example.com/q?a=1&b=2"],
            [format!("SetStorageItemsReadOnly 1 {}", items).as_str()],
        ]
    );
}

const APP: &str = "http://tauri.localhost";

#[test]
fn a_page_s_files_reach_the_sheet_under_safe_names_and_their_folder_goes_after_the_share() {
    let install = Install::new("web-files", true, "");
    let record = install.new_record();
    // What the page script sends through Tauri or WebView2, as the page tests see it sent.
    let request = include_str!("../../../tests/web/share_request.json");
    let options = web::Options::new().keep_files_for(Duration::from_secs(3));
    let answer = options.share(&install.sharer(), APP, request, web::anchor_of(None));
    assert_eq!(answer, r#"{"outcome":"completed"}"#);

    // The files, read while they are kept: the page's bytes under names Windows takes as they are.
    let items = record.lines("SetStorageItemsReadOnly", 1);
    let at = items[0].find("\\report.PDF ").expect("report.PDF is shared first");
    let folder = PathBuf::from(&items[0]["SetStorageItemsReadOnly 1 ".len()..at]);
    let expected = [("report.PDF", &[0, 1, 254, 255][..]), ("_CON.txt", b"hi"), ("_con (2).TXT", b"")];
    let paths: Vec<PathBuf> = expected.iter().map(|(name, _)| folder.join(name)).collect();
    let read: Vec<Vec<u8>> = paths.iter().map(|p| fs::read(p).unwrap()).collect();
    let items_expected = paths.iter().map(|p| p.display().to_string()).collect::<Vec<_>>().join(" ");
    assert_eq!(items, [format!("SetStorageItemsReadOnly 1 {}", items_expected)]);
    assert_eq!(read, expected.iter().map(|(_, d)| d.to_vec()).collect::<Vec<_>>());
    assert!(folder.starts_with(env::temp_dir()), "{}", folder.display());
    // Marked as a browser marks a download; Wine keeps the stream as a file of that name.
    let mark = fs::read_to_string(folder.join("_CON.txt:Zone.Identifier")).unwrap();
    assert_eq!(mark, "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=http://tauri.localhost/\r\n");
    assert_eq!(
        [record.lines("title ", 1), record.lines("text ", 1), record.lines("weblink ", 1)],
        [["title 1 Report \u{dc}"], ["text 1 See the figures"], ["weblink 1 https://example.com/q?a=1&b=2"]]
    );
    let deadline = Instant::now() + Duration::from_secs(30);
    while folder.exists() && Instant::now() < deadline {
        thread::sleep(Duration::from_millis(100));
    }
    assert!(!folder.exists(), "{} is still there", folder.display());
}

#[test]
fn a_page_s_link_alone_shares_canceled_and_a_second_share_from_its_window_is_refused_meanwhile() {
    let install = Install::new("web-link", true, "");
    let record = install.new_record();
    env::set_var("QUIBSHARE_SIM_END", "cancel");
    env::set_var("QUIBSHARE_SIM_END_AFTER", "2000");
    let sharer = install.sharer();
    let request = r#"{"url":"https://example.com/a","title":"A"}"#;
    let answers = thread::scope(|scope| {
        let first = scope.spawn(|| web::share(&sharer, APP, request, web::anchor_of(Some(42))));
        // Once the sheet has the link, the first share is under way until the sheet ends.
        while record.lines("weblink ", 0).is_empty() {
            thread::sleep(Duration::from_millis(20));
        }
        let second = web::share(&sharer, APP, r#"{"text":"x"}"#, web::anchor_of(Some(42)));
        (first.join().unwrap(), second)
    });
    env::remove_var("QUIBSHARE_SIM_END_AFTER");
    assert_eq!(
        answers,
        (
            r#"{"outcome":"canceled"}"#.to_owned(),
            r#"{"error":{"name":"InvalidStateError","message":"An earlier share has not yet completed."}}"#
                .to_owned()
        )
    );
    let lines = |prefix| record.lines(prefix, 1);
    assert_eq!(
        (lines("title "), lines("weblink "), lines("SetStorageItems")),
        (vec!["title 1 A".to_owned()], vec!["weblink 1 https://example.com/a".to_owned()], vec![])
    );
}
