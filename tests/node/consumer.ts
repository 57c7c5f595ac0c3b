// An app's use of the package, compiled under tsc --strict against the shipped declarations.
import {
  executablePath, isSupported, QuibShareError, share, type QuibShareErrorCode, type ShareAnchor, type ShareOptions,
  type ShareOutcome, type ShareResult,
} from 'quibshare';
import manifest from 'quibshare/package.json';

async function shareReport(file: string, button: ShareAnchor): Promise<string> {
  if (!isSupported() || !isSupported({ executablePath: 'C:\\App\\QuibShare.exe' })) {
    return `cannot share ${file} with ${executablePath()} ${manifest.version}`;
  }
  try {
    const handed: ShareResult = await share(file, { executablePath: executablePath() });
    const options: ShareOptions = { title: 'Report', text: 'Attached', url: 'https://example.com/', anchor: button };
    const { outcome, target, app }: ShareResult = await share([file, 'notes.txt'], { ...options, wait: true });
    const word: ShareOutcome = outcome;
    const where: string | undefined = target ?? app;
    switch (word) {
      case 'handed': case 'completed': case 'canceled': case 'ended':
        return `${handed.outcome} then ${word} ${where ?? 'somewhere'}`;
    }
  } catch (error) {
    if (!(error instanceof QuibShareError)) throw error;
    const code: QuibShareErrorCode = error.code;
    const exitCode: number | null = error.exitCode;
    const cause: unknown = error.cause;
    switch (code) {
      case 'INPUT_REJECTED': case 'UNAVAILABLE': case 'FAILED': case 'ABNORMAL_EXIT':
      case 'UNSUPPORTED_PLATFORM': case 'SPAWN_FAILED':
        return `${error.name} ${code} ${exitCode ?? 'none'}: ${error.message} ${String(cause)}`;
    }
  }
}

void shareReport('report.pdf', { x: 10, y: 20, width: 32.5, height: 32 });
void share('report.pdf', { title: undefined, wait: false });
// A link alone, as navigator.share({ title, url }) would give it.
void share([], { title: 'Docs', url: 'https://example.com/docs', wait: true });
