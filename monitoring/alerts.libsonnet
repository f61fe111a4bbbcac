// Alerts on what lbxctl check reports (lbx_* metrics), in the conventions of
// the monitoring-mixins project: one prefix (Lbx), a severity label, summary
// and description annotations.
{
  prometheusAlerts+:: {
    groups+: [
      {
        name: 'lbxconfig',
        rules: [
          {
            alert: 'LbxConverterDown',
            expr: 'lbx_converter_up{%(lbxSelector)s} == 0' % $._config,
            'for': $._config.converterDownFor,
            labels: { severity: 'warning' },
            annotations: {
              summary: 'An LBX converter does not answer.',
              description: 'Converter {{ $labels.uuid }} at {{ $labels.ip }} of site {{ $labels.%(siteLabel)s }} is in the roster but has not answered the check for %(converterDownFor)s.' % $._config,
            },
          },
          {
            alert: 'LbxConvertersMissing',
            expr: 'lbx_converters_expected{%(lbxSelector)s} - lbx_converters_found{%(lbxSelector)s} > 0' % $._config,
            'for': $._config.convertersMissingFor,
            labels: { severity: 'warning' },
            annotations: {
              summary: 'Fewer LBX converters answer than the site should have.',
              description: '{{ $value }} fewer converters answer at site {{ $labels.%(siteLabel)s }} than its roster names.' % $._config,
            },
          },
          {
            alert: 'LbxNoConverterAnswers',
            expr: 'lbx_converters_found{%(lbxSelector)s} == 0 and lbx_converters_expected{%(lbxSelector)s} > 0' % $._config,
            'for': $._config.noConverterAnswersFor,
            labels: { severity: 'critical' },
            annotations: {
              summary: 'No LBX converter answers at a site.',
              description: 'None of the converters of site {{ $labels.%(siteLabel)s }} answers: the site computer lost the converters\' network, or the site is dark.' % $._config,
            },
          },
          {
            alert: 'LbxCheckNotSucceeding',
            expr: 'time() - lbx_check_last_success_timestamp_seconds{%(lbxSelector)s} > %(checkStaleSeconds)s' % $._config,
            'for': $._config.checkNotSucceedingFor,
            labels: { severity: 'warning' },
            annotations: {
              summary: 'The converter check has not succeeded recently.',
              description: 'The last check at site {{ $labels.%(siteLabel)s }} that ran to its end was {{ $value | humanizeDuration }} ago: its metrics are stale (see journalctl -u lbxctl-check).' % $._config,
            },
          },
          {
            alert: 'LbxConverterSettingsDrifted',
            expr: 'lbx_converter_changed{%(lbxSelector)s} == 1' % $._config,
            'for': $._config.settingsDriftedFor,
            labels: { severity: 'warning' },
            annotations: {
              summary: 'An LBX converter reports other settings than its roster.',
              description: 'Converter {{ $labels.uuid }} at {{ $labels.ip }} of site {{ $labels.%(siteLabel)s }} differs from the roster the check holds it to (lbxctl check shows what changed).' % $._config,
            },
          },
          {
            alert: 'LbxVersionSkew',
            expr: 'count(count by (app_version) (lbx_converter_info{%(lbxSelector)s})) > 1' % $._config,
            'for': $._config.versionSkewFor,
            labels: { severity: 'info' },
            annotations: {
              summary: 'LBX converters run different application versions.',
              description: '{{ $value }} application versions run across the converters of the fleet.',
            },
          },
        ],
      },
    ],
  },
}
