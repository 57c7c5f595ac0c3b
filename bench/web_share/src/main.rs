//! What the crate's web side adds to a share: `quibshare::web::share` of a page's 1 MB file (decode,
//! write, waited share, removal) against a waited share of the same file on disk, interleaved in one
//! run, medians of 15 of each. Run under Wine with the simulated sheet beside the executable given
//! as the first argument (bench/run does that).
use std::path::Path;
use std::time::{Duration, Instant};
use std::{env, fs, thread};

use quibshare::{web, Sharer};

const RUNS: usize = 15;
const BYTES: usize = 1024 * 1024;

fn base64(bytes: &[u8]) -> String {
    let alphabet = b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    let mut text = String::with_capacity(bytes.len() / 3 * 4 + 4);
    for chunk in bytes.chunks(3) {
        let n = chunk.iter().enumerate().fold(0u32, |n, (i, &b)| n | (b as u32) << (16 - 8 * i));
        for i in 0..4 {
            text.push(if i <= chunk.len() { alphabet[(n >> (18 - 6 * i) & 63) as usize] as char } else { '=' });
        }
    }
    text
}

fn median(mut values: Vec<Duration>) -> f64 {
    values.sort();
    values[values.len() / 2].as_secs_f64() * 1000.0
}

/// The share folders in the temporary folder: the web side's removal counts until its folder is gone.
fn share_folders() -> usize {
    let entries = fs::read_dir(env::temp_dir()).map(|e| e.flatten().collect::<Vec<_>>()).unwrap_or_default();
    entries.iter().filter(|e| e.file_name().to_string_lossy().starts_with("quibshare-web-")).count()
}

fn timed(action: impl FnOnce()) -> Duration {
    let start = Instant::now();
    action();
    while share_folders() > 0 {
        thread::sleep(Duration::from_millis(1));
    }
    start.elapsed()
}

fn main() {
    let executable = env::args().nth(1).expect("QuibShare.exe's path");
    let sharer = Sharer::new(&executable);
    let options = web::Options::new().keep_files_for(Duration::ZERO);
    let mut bytes = vec![0u8; BYTES];
    let mut seed = 0x2545_f491_u32;
    for byte in bytes.iter_mut() {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        *byte = seed as u8;
    }
    let folder = env::temp_dir().join("quibshare-bench-web");
    fs::create_dir_all(&folder).unwrap();
    let file = folder.join("report.pdf");
    fs::write(&file, &bytes).unwrap();

    let encoding = Instant::now();
    let data = base64(&bytes);
    let encoded = encoding.elapsed();
    let request = format!(r#"{{"title":"Report","files":[{{"name":"report.pdf","type":"application/pdf","data":"{}"}}]}}"#, data);
    let completed = r#"{"outcome":"completed"}"#;
    let origin = web::APP_ORIGINS[0];
    let page = || assert_eq!(options.share(&sharer, origin, &request, web::anchor_of(None)), completed);
    let disk = || drop(sharer.clone().title("Report").wait(true).share(&file).expect("a waited share"));
    // Decoding, writing and removal alone: an executable that is not there fails at once.
    let absent = Sharer::new(Path::new(&executable).with_file_name("absent.exe"));
    let failed = r#"{"error":{"name":"AbortError","message":"Share failed"}}"#;
    let overhead = || assert_eq!(options.share(&absent, origin, &request, web::anchor_of(None)), failed);

    page();
    disk();
    let (mut pages, mut disks, mut overheads) = (Vec::new(), Vec::new(), Vec::new());
    for _ in 0..RUNS {
        pages.push(timed(page));
        disks.push(timed(disk));
        overheads.push(timed(overhead));
    }
    let (p, d, o) = (median(pages), median(disks), median(overheads));
    println!("quibshare::web::share of a 1 MB page file (decode, write, waited share, remove): median {:.1} ms of {}", p, RUNS);
    println!("waited share of the same file on disk: median {:.1} ms of {} (the floor)", d, RUNS);
    println!("web / disk: {:.3} (aim: 1.30 or less)", p / d);
    println!("of which decode, write and remove alone (no share): median {:.1} ms of {}", o, RUNS);
    println!(
        "base64: the 1 MB file travels as {} bytes of JSON (+{:.0} %); encoding it here took {:.1} ms",
        request.len(),
        (request.len() as f64 / BYTES as f64 - 1.0) * 100.0,
        encoded.as_secs_f64() * 1000.0
    );
    let _ = fs::remove_dir_all(&folder);
}
